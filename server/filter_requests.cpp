#include <cstring>

#include "catalogue/plugin_catalog.h"
#include "invocation/filter_call.h"
#include "wire/image_block.h"
#include "server/job_threads.h"
#include "server/loop_state.h"
#include "server/shared_image.h"
#include "base/memory.h"
#include "base/text.h"

static unsigned long __stdcall FilterThreadMain(void* parameter) {
  JobRecord* record = static_cast<JobRecord*>(parameter);
  record->succeeded = RunFilterCall(record, record->entry) != 0;
  return record->abortRequest != 0 ? 19 : 0;
}

static void ReleaseHeldImage(LoopState* state) {
  ReleaseOwnedBlock(&state->image);
  ReleaseOwnedBlock(&state->sharedStart);
  state->imageOffset = 0;
}

// The checks every Filter start shares, from the image on, and the start
// itself. The image begins `imageOffset` bytes into the payload, or, when
// `shared` names one, in a section of the editor's; `replay` points into the
// payload, which is held as long as the image.
static void StartFilterJob(LoopState* state, uint32_t imageOffset, uint32_t mode, const SettingsView& replay,
                           const SharedImageRef* shared = nullptr) {
  ImageBlockHeader header;
  OwnedBlock mapped{};
  ReplyStatus refusal = ST_OK;
  if (shared != nullptr) {
    // Only the copy of the header is trusted: the editor can still write to
    // the section.
    refusal = MapSharedImage(shared->section, shared->offset, &mapped, &header, state->image.section);
  } else {
    // An editor that sends its image now has no use for a kept view, whose
    // address space a 32-bit server may need.
    ReleaseSpareRegion(SPARE_VIEW);
    // The header first, then its pixels: a 1 x 1 image is 28 bytes long.
    if (state->requestPayload.data == nullptr ||
        uint64_t{imageOffset} + IMAGE_HEADER_BYTES > state->request.payloadLength)
      return SetStatus(state, ST_BAD_PAYLOAD);
    memcpy(&header, state->requestPayload.data + imageOffset, sizeof(header));
    if (!ImageBlockComplete(state->request.payloadLength - imageOffset, header)) refusal = ST_NO_IMAGE;
  }
  if (refusal != ST_OK) {
    // A start that fails here leaves no image held, as an editor would expect
    // of a start that did nothing — unless a running job still uses it.
    if (!JobThreadRunning(&state->filter)) ReleaseHeldImage(state);
    return SetStatus(state, refusal);
  }
  if (RefuseStartWhileBusy(state)) return ReleaseOwnedBlock(&mapped);
  KeepRecordedSettings(state);
  ForgetEndedJob(&state->filter);

  // An image the editor never fetched is released here, exactly once.
  ReleaseHeldImage(state);
  if (shared != nullptr) {
    MoveOwnedBlock(&state->image, &mapped);
    MoveOwnedBlock(&state->sharedStart, &state->requestPayload);
    imageOffset = 0;
  } else {
    MoveOwnedBlock(&state->image, &state->requestPayload);
  }
  state->imageOffset = imageOffset;

  JobRecord* record = &state->filter.record;
  memset(static_cast<void*>(record), 0, sizeof(*record));  // its atomics are plain bytes
  record->hostWindow = state->hostWindow;
  record->self = record;
  record->width = header.width;
  record->height = header.height;
  record->rowPixels = header.width;
  record->pixels = state->image.data + imageOffset + IMAGE_HEADER_BYTES;
  record->horizontalResolution = header.horizontalResolution;
  record->verticalResolution = header.verticalResolution;
  record->foreground = state->hostSettings.foreground;
  record->background = state->hostSettings.background;
  record->ImageAccessBegin = ImageAccessBegin;
  record->ImageAccessEnd = ImageAccessEnd;
  record->ImageAccessCheck = ImageAccessCheck;
  record->progress = JobProgress;
  record->entry = CatalogueEntry(state->catalogue, static_cast<uint32_t>(state->request.argument));
  record->startMode = mode;
  record->replay = replay;
  if (!StartJobThread(state, &state->filter, FilterThreadMain)) ReleaseHeldImage(state);
}

// Catalogue and host window, then the index: both starts check these first.
static bool StartReady(LoopState* state) {
  if (state->catalogue == nullptr || state->hostWindow == 0) {
    SetStatus(state, ST_NOT_READY);
    return false;
  }
  int64_t index = state->request.argument;
  if (index < 0 || index >= static_cast<int64_t>(state->catalogue->count)) {
    SetStatus(state, ST_BAD_INDEX);
    return false;
  }
  return true;
}

void HandleFilterStart(LoopState* state) {
  if (!StartReady(state)) return;
  StartFilterJob(state, 0, START_MODE_PLAIN, SettingsView{});
}

static bool ImageSourceServed(uint32_t source) {
  return source == IMAGE_SOURCE_INLINE || source == IMAGE_SOURCE_SHARED;
}

void HandleFilterStartEx(LoopState* state) {
  if (!StartReady(state)) return;
  if (!NeedPayload(state, START_EX_HEADER_BYTES)) return;
  FilterStartExHeader h;
  memcpy(&h, state->requestPayload.data, sizeof(h));
  const uint64_t length = state->request.payloadLength;
  // Summed in 64 bits: neither length can wrap the sum there.
  if (h.headerBytes < START_EX_HEADER_BYTES || uint64_t{h.headerBytes} + h.settingsBytes > length ||
      h.mode > START_MODE_SILENT || !ImageSourceServed(h.imageSource))
    return SetStatus(state, ST_BAD_PAYLOAD);
  SettingsView replay{};
  if (h.settingsBytes != 0 &&
      ParseSettingsBlock(state->requestPayload.data + h.headerBytes, h.settingsBytes, &replay) != SETTINGS_OK)
    return SetStatus(state, ST_BAD_PAYLOAD);
  const uint32_t after = h.headerBytes + h.settingsBytes;
  if (h.imageSource == IMAGE_SOURCE_INLINE) return StartFilterJob(state, after, h.mode, replay);
  // A section handle and offset end the payload, instead of the ImageBlock.
  if (length != uint64_t{after} + sizeof(SharedImageRef)) return SetStatus(state, ST_BAD_PAYLOAD);
  SharedImageRef ref;
  memcpy(&ref, state->requestPayload.data + after, sizeof(ref));
  StartFilterJob(state, after, h.mode, replay, &ref);
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
  if (!running) {
    KeepRecordedSettings(state);
    ForgetEndedJob(&state->filter);
  }
}

void HandleFetchImage(LoopState* state) {
  if (state->image.data == nullptr) return SetStatus(state, ST_NO_IMAGE);
  // The running filter writes into the held image in place.
  if (JobThreadRunning(&state->filter)) return SetStatus(state, ST_NOT_READY);
  // Pixels in the editor's own section are there already. The view is kept
  // for a next start on the same section.
  if (state->image.kind == BLOCK_MAPPING) {
    RecycleOwnedBlock(&state->image, SPARE_VIEW);
    return ReleaseHeldImage(state);
  }
  // A start's header and settings before the image stay behind.
  state->reply.payloadLength = static_cast<uint32_t>(state->image.length - state->imageOffset);
  state->replyOffset = state->imageOffset;
  state->imageOffset = 0;
  MoveOwnedBlock(&state->replyPayload, &state->image);
}

void HandleFilterAbort(LoopState* state) {
  if (!JobThreadRunning(&state->filter)) return SetStatus(state, ST_BAD_INDEX);
  state->filter.record.abortRequest = 1;
}
