#include "server/job_threads.h"

#include <windows.h>
#include <cstring>
#include <cwchar>

#include "server/loop_state.h"
#include "server/request_loop.h"

bool JobThreadRunning(const JobSlot* slot) {
  DWORD code = 0;
  return slot->thread != nullptr && (!GetExitCodeThread(slot->thread, &code) || code == STILL_ACTIVE);
}

bool RefuseStartWhileBusy(LoopState* state) {
  if (!AnyJobRunning(state)) return false;
  SetStatus(state, ST_THREAD_FAILED);
  // The reply may carry a text for this status: the text, its terminator and
  // three more zero units.
  static const wchar_t kText[] = L"A plug-in job is still running";
  const uint32_t units = static_cast<uint32_t>(wcslen(kText));
  uint8_t* payload = AttachReplyPayload(state, 2 * (units + 4));
  if (payload != nullptr) {
    memcpy(payload, kText, units * 2);
    SetStatus(state, ST_THREAD_FAILED);
  }
  return true;
}

void ForgetEndedJob(JobSlot* slot) {
  if (slot->thread != nullptr && !JobThreadRunning(slot)) {
    CloseHandle(slot->thread);
    slot->thread = nullptr;
  }
}

bool StartJobThread(JobSlot* slot, JobThreadMain main) {
  static uint64_t started = 0;
  // Without the event a waiting poll still sees the job end, and its
  // progress when the wait runs out.
  if (slot->wake == nullptr) slot->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (slot->wake != nullptr) ResetEvent(slot->wake);
  slot->record.wake = slot->wake;
  slot->record.signalledProgress = 0.0;
  slot->repliedProgress = 0.0;
  slot->startNumber = ++started;
  HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(main), &slot->record, 0, nullptr);
  if (thread == nullptr) return false;
  SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
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
