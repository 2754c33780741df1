// The waiting poll: the loop thread sleeps on the job's wake-ups, so an
// editor gets news as it happens without spinning.
#include "server/system_calls.h"

#include "base/clock.h"
#include "server/job_threads.h"
#include "server/loop_state.h"

// The job a wait is about: the running one, else the one started last that
// has not been forgotten; null when there is none.
static JobSlot* WaitedSlot(LoopState* state) {
  JobSlot* slots[2] = {&state->about, &state->filter};
  JobSlot* chosen = nullptr;
  for (JobSlot* slot : slots) {
    if (slot->thread == nullptr) continue;
    if (JobThreadRunning(slot)) return slot;
    if (chosen == nullptr || slot->startNumber > chosen->startNumber) chosen = slot;
  }
  return chosen;
}

static bool ProgressMoved(const JobSlot* slot) {
  const double now = slot->record.progressValue;
  const double moved = now > slot->repliedProgress ? now - slot->repliedProgress : slot->repliedProgress - now;
  return moved >= JOB_WAKE_STEP;
}

// Returns when the job has ended, its progress has moved a step since the
// last reply, or `limitMs` has passed. Every wake-up is the job's: a progress
// step or its end; one that changed too little waits again for what is left
// of the limit. Once the job has said it ended, its thread has only to exit.
static void WaitForChange(JobSlot* slot, uint32_t limitMs) {
  const ClockStamp start = ClockNow();
  JobWake* wake = &slot->record.wake;
  for (;;) {
    const uint32_t seen = JobWakeCount(wake);
    if (!JobThreadRunning(slot) || ProgressMoved(slot)) return;
    const uint32_t spent = MillisecondsFromSeconds(ClockElapsed(start, ClockNow()));
    if (spent >= limitMs) return;
    if (JobWakeEnded(wake)) osWaitForSingleObject(slot->thread, limitMs - spent);
    else WaitForJobWake(wake, seen, limitMs - spent);
  }
}

void HandleJobWait(LoopState* state) {
  if (!NeedPayload(state, JOB_STATUS_BYTES)) return;
  JobSlot* slot = WaitedSlot(state);
  if (slot == nullptr) return SetStatus(state, ST_BAD_INDEX);
  int64_t limit = state->request.argument;
  if (limit < 0) limit = 0;
  if (limit > JOB_WAIT_LIMIT_MS) limit = JOB_WAIT_LIMIT_MS;
  WaitForChange(slot, static_cast<uint32_t>(limit));
  if (slot == &state->about) HandleAboutPoll(state);
  else HandleFilterPoll(state);
}
