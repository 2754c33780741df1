#include <cstring>

#include "catalogue/plugin_catalog.h"
#include "invocation/about_call.h"
#include "server/job_threads.h"
#include "server/loop_state.h"

static unsigned long __stdcall AboutThreadMain(void* parameter) {
  JobRecord* record = static_cast<JobRecord*>(parameter);
  record->succeeded = RunAboutCall(record, record->entry) != 0;
  return 0;
}

void HandleAboutStart(LoopState* state) {
  if (state->catalogue == nullptr || state->hostWindow == 0) return SetStatus(state, ST_NOT_READY);
  int64_t index = state->request.argument;
  if (index < 0 || index >= static_cast<int64_t>(state->catalogue->count)) return SetStatus(state, ST_BAD_INDEX);
  if (RefuseStartWhileBusy(state)) return;
  ForgetEndedJob(&state->about);
  JobRecord* record = &state->about.record;
  memset(static_cast<void*>(record), 0, sizeof(*record));  // its atomics are plain bytes
  record->hostWindow = state->hostWindow;
  record->self = record;
  record->entry = CatalogueEntry(state->catalogue, static_cast<uint32_t>(index));
  StartJobThread(state, &state->about, AboutThreadMain);
}

void HandleAboutPoll(LoopState* state) {
  if (!NeedPayload(state, JOB_STATUS_BYTES)) return;
  memcpy(&state->about.work, state->requestPayload.data, JOB_STATUS_BYTES);
  if (state->about.thread == nullptr) return SetStatus(state, ST_BAD_INDEX);
  bool running = JobThreadRunning(&state->about);
  JobStatusRecord* work = &state->about.work;
  work->progress = 0.0;
  work->state = running ? JOB_RUNNING : JOB_DONE;
  if (!AttachPollReply(state, &state->about)) return;
  if (!running) ForgetEndedJob(&state->about);
}
