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

// Runs the job and then tells a waiting poll it has ended. A plug-in that
// ends the thread itself skips the telling: the poll then sees the end when
// its wait runs out.
static unsigned long __stdcall JobThreadStart(void* parameter) {
  JobSlot* slot = static_cast<JobSlot*>(parameter);
  const unsigned long code = slot->main(&slot->record);
  SignalJobWake(&slot->record.wake, true);
  return code;
}

bool StartJobThread(LoopState* state, JobSlot* slot, JobThreadMain main) {
  static uint64_t started = 0;
  slot->record.wake = JobWake{};
  slot->record.signalledProgress = 0.0;
  slot->main = main;
  slot->repliedProgress = 0.0;
  slot->startNumber = ++started;
  HANDLE thread = osCreateThread(nullptr, 0, JobThreadStart, slot, 0, nullptr);
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
