#include "server/job_threads.h"

#include "server/system_calls.h"

#include <cstring>
#include <cwchar>

#include "base/text.h"
#include "server/loop_state.h"
#include "server/request_loop.h"

bool JobThreadRunning(const JobSlot* slot) {
  DWORD code = 0;
  return slot->thread != nullptr && (!osGetExitCodeThread(slot->thread, &code) || code == STILL_ACTIVE);
}

// ST_THREAD_FAILED with a text: the reply may carry one for this status, the
// text, its terminator and three more zero units. The status stands even when
// there is no memory for the text.
static void RefuseStart(LoopState* state, const wchar_t* text) {
  const uint32_t units = static_cast<uint32_t>(wcslen(text));
  uint8_t* payload = AttachReplyPayload(state, 2 * (units + 4));
  if (payload != nullptr) memcpy(payload, text, units * 2);
  SetStatus(state, ST_THREAD_FAILED);
}

bool RefuseStartWhileBusy(LoopState* state) {
  if (!AnyJobRunning(state)) return false;
  RefuseStart(state, L"A plug-in job is still running");
  return true;
}

void ForgetEndedJob(JobSlot* slot) {
  if (slot->thread != nullptr && !JobThreadRunning(slot)) {
    osCloseHandle(slot->thread);
    slot->thread = nullptr;
  }
}

bool StartJobThread(LoopState* state, JobSlot* slot, JobThreadMain main) {
  static uint64_t started = 0;
  // Without the event a waiting poll still sees the job end, and its
  // progress when the wait runs out.
  if (slot->wake == nullptr) slot->wake = osCreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (slot->wake != nullptr) osResetEvent(slot->wake);
  slot->record.wake = slot->wake;
  slot->record.signalledProgress = 0.0;
  slot->repliedProgress = 0.0;
  slot->startNumber = ++started;
  HANDLE thread = osCreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(main), &slot->record, 0, nullptr);
  if (thread == nullptr) {
    wchar_t text[80];
    BoundedFormatW(text, 80, L"The job thread could not be started (error %lu)",
                   static_cast<unsigned long>(GetLastError()));
    RefuseStart(state, text);
    return false;
  }
  osSetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
  slot->thread = thread;
  return true;
}

bool AttachPollReply(LoopState* state, JobSlot* slot) {
  uint8_t* payload = AttachReplyPayload(state, JOB_STATUS_BYTES);
  if (payload == nullptr) return false;
  memcpy(payload, &slot->work, JOB_STATUS_BYTES);
  slot->repliedProgress = slot->work.progress;
  return true;
}
