#include <windows.h>
#include <cstring>

#include "catalogue/plugin_catalog.h"
#include "invocation/filter_call.h"
#include "server/image_block.h"
#include "server/job_threads.h"
#include "server/loop_state.h"
#include "server/memory.h"
#include "server/text/text.h"

static unsigned long __stdcall FilterThreadMain(void* parameter) {
  JobRecord* record = static_cast<JobRecord*>(parameter);
  record->succeeded = RunFilterCall(record, record->entry) != 0;
  return record->abortRequest != 0 ? 19 : 0;
}

static void ReleaseHeldImage(LoopState* state) { ReleaseOwnedBlock(&state->image); }

void HandleFilterStart(LoopState* state) {
  if (state->catalogue == nullptr || state->hostWindow == 0) return SetStatus(state, ST_NOT_READY);
  int64_t index = state->request.argument;
  if (index < 0 || index >= static_cast<int64_t>(state->catalogue->count)) return SetStatus(state, ST_BAD_INDEX);
  // The header first, then its pixels: a 1 x 1 image is 28 bytes long.
  if (!NeedPayload(state, IMAGE_HEADER_BYTES)) return;
  ImageBlockHeader header;
  memcpy(&header, state->requestPayload.data, sizeof(header));
  if (!ImageBlockComplete(state->request.payloadLength, header)) {
    // A start that fails here leaves no image held, as an editor would expect
    // of a start that did nothing — unless a running job still uses it.
    if (!JobThreadRunning(&state->filter)) ReleaseHeldImage(state);
    return SetStatus(state, ST_NO_IMAGE);
  }
  if (RefuseStartWhileBusy(state)) return;
  ForgetEndedJob(&state->filter);

  // An image the editor never fetched is released here, exactly once.
  MoveOwnedBlock(&state->image, &state->requestPayload);

  JobRecord* record = &state->filter.record;
  memset(record, 0, sizeof(*record));
  record->hostWindow = state->hostWindow;
  record->self = record;
  record->width = header.width;
  record->height = header.height;
  record->rowPixels = header.width;
  record->pixels = state->image.data + IMAGE_HEADER_BYTES;
  record->horizontalResolution = header.horizontalResolution;
  record->verticalResolution = header.verticalResolution;
  record->foreground = state->hostSettings.foreground;
  record->background = state->hostSettings.background;
  record->ImageAccessBegin = ImageAccessBegin;
  record->ImageAccessEnd = ImageAccessEnd;
  record->ImageAccessCheck = ImageAccessCheck;
  record->progress = JobProgress;
  record->entry = CatalogueEntry(state->catalogue, static_cast<uint32_t>(index));
  if (!StartJobThread(&state->filter, FilterThreadMain)) {
    SetStatus(state, ST_THREAD_FAILED);
    ReleaseHeldImage(state);
  }
}

void HandleFilterPoll(LoopState* state) {
  if (!NeedPayload(state, JOB_STATUS_BYTES)) return;
  if (state->image.data == nullptr) return SetStatus(state, ST_NO_IMAGE);
  memcpy(&state->filter.work, state->requestPayload.data, JOB_STATUS_BYTES);
  if (state->filter.thread == nullptr) return SetStatus(state, ST_BAD_INDEX);
  bool running = JobThreadRunning(&state->filter);
  const JobRecord* record = &state->filter.record;
  JobStatusRecord* work = &state->filter.work;
  work->progress = record->progressValue;
  if (running) {
    work->state = JOB_RUNNING;
  } else {
    work->state = JOB_DONE;
    work->resultCode = 0;
    work->message[0] = 0;
    if (!record->succeeded) {
      work->state = record->resultCode == 13 ? JOB_CANCELLED : JOB_FAILED;
      work->resultCode = record->resultCode;
      BoundedCopyW(work->message, 256, record->message);
    }
  }
  if (!AttachPollReply(state, &state->filter)) return;
  if (!running) ForgetEndedJob(&state->filter);
}

void HandleFetchImage(LoopState* state) {
  if (state->image.data == nullptr) return SetStatus(state, ST_NO_IMAGE);
  // The running filter writes into the held image in place.
  if (JobThreadRunning(&state->filter)) return SetStatus(state, ST_NOT_READY);
  // Pixels in the editor's own section are there already: the view is let go.
  if (state->image.kind == BLOCK_MAPPING) return ReleaseOwnedBlock(&state->image);
  state->reply.payloadLength = static_cast<uint32_t>(state->image.length);
  MoveOwnedBlock(&state->replyPayload, &state->image);
}

void HandleFilterAbort(LoopState* state) {
  if (!JobThreadRunning(&state->filter)) return SetStatus(state, ST_BAD_INDEX);
  state->filter.record.abortRequest = 1;
}
