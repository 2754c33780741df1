#include "server/request_loop.h"

#include "server/system_calls.h"

#include <cstring>

#include "server/job_threads.h"
#include "base/clock.h"
#include "server/loop_state.h"
#include "base/memory.h"
#include "base/guard.h"
#include "engine/advance_state.h"

bool NeedPayload(LoopState* state, uint32_t needed) {
  if (state->requestPayload.data == nullptr || state->request.payloadLength < needed) {
    SetStatus(state, ST_BAD_PAYLOAD);
    return false;
  }
  return true;
}

void SetStatus(LoopState* state, ReplyStatus status) { state->reply.argument = status; }

uint8_t* AttachReplyPayload(LoopState* state, uint32_t length) {
  const bool attached = OwnZeroedBlock(&state->replyPayload, length);
  state->reply.payloadLength = attached ? length : 0;
  if (!attached) SetStatus(state, ST_NO_MEMORY);
  return state->replyPayload.data;
}

// Reads a payload of `length` bytes into memory that is committed only as the
// bytes arrive, one piece at a time: a header may announce up to 4 GiB, and
// an editor that then sends ten bytes and closes must cost no more than one
// piece. Small payloads, most of them, take one global block; a large one
// takes the region the last image left, when that fits. The block is not
// cleared first: a successful read overwrites every byte, and a failed one
// ends the loop.
static bool ReadPayload(PipeChannel* channel, uint32_t length, OwnedBlock* out) {
  if (length <= PAYLOAD_PIECE_BYTES) {
    out->data = static_cast<uint8_t*>(AllocFixed(length));
    if (out->data == nullptr) return false;
    out->kind = BLOCK_GLOBAL;
    out->length = length;
    return PipeRead(channel, out->data, length);
  }
  if (!TakeRegion(out, length)) return false;
  for (uint64_t offset = 0; offset < length; offset += PAYLOAD_PIECE_BYTES) {
    const uint32_t piece = static_cast<uint32_t>(length - offset < PAYLOAD_PIECE_BYTES ? length - offset
                                                                                      : PAYLOAD_PIECE_BYTES);
    if (!CommitRegion(out->data, offset, piece)) return false;
    if (!PipeRead(channel, out->data + offset, piece)) return false;
  }
  return true;
}

bool AnyJobRunning(const LoopState* state) {
  return JobThreadRunning(&state->about) || JobThreadRunning(&state->filter);
}

void AnswerRequest(LoopState* state) {
  memset(&state->reply, 0, sizeof(state->reply));
  state->replyOffset = 0;
  // The spare serves only the request right after the one that left it.
  ReleaseSpareRegion();
  state->reply.kind = state->request.kind | REPLY_FLAG;
  SetStatus(state, ST_OK);

  RequestHandler handler = FindRequestHandler(state->request.kind);
  // A fault while handling stops the handler where it was; the reply goes out
  // with ST_FAULT and whatever payload it had prepared.
  if (handler != nullptr && !Guarded([&] { handler(state); })) SetStatus(state, ST_FAULT);

  RecycleOwnedBlock(&state->requestPayload);  // unless a handler moved it out
}

// One request: read, answer, reply. False ends the loop.
static bool ServeOne(LoopState* state) {
  memset(&state->request, 0, sizeof(state->request));

  if (!PipeRead(&state->channel, &state->request, sizeof(MessageHeader))) return false;
  if (state->request.payloadLength != 0 &&
      !ReadPayload(&state->channel, state->request.payloadLength, &state->requestPayload)) {
    ReleaseOwnedBlock(&state->requestPayload);
    return false;
  }
  AnswerRequest(state);
  if (state->request.kind == REQ_QUIT) {
    ReleaseOwnedBlock(&state->replyPayload);
    return false;
  }
  bool ok = PipeWrite(&state->channel, &state->reply, sizeof(MessageHeader));
  if (ok && state->reply.payloadLength != 0 && state->replyPayload.data != nullptr)
    ok = PipeWrite(&state->channel, state->replyPayload.data + state->replyOffset, state->reply.payloadLength);
  RecycleOwnedBlock(&state->replyPayload);
  state->spareSince = ClockNow();
  return ok;
}

// Called by the pipe before a transfer and at every slice of its wait: a
// spare region that no request came for is given back.
static int32_t ReleaseIdleSpare(void* userData) {
  const LoopState* state = static_cast<const LoopState*>(userData);
  if (MillisecondsFromSeconds(ClockElapsed(state->spareSince, ClockNow())) >= SPARE_IDLE_MS) {
    ReleaseSpareRegion(SPARE_PAYLOAD);
    ReleaseSpareRegion(SPARE_WORKING);
    ReleaseSpareRegion(SPARE_VIEW);
    if (!JobThreadRunning(&state->filter)) ReleaseTileBlockPool();
  }
  return 1;
}

bool RunServer(const wchar_t* commandLine) {
  static LoopState state;  // large; kept off the stack
  memset(static_cast<void*>(&state), 0, sizeof(state));
  state.channel.handle = INVALID_HANDLE_VALUE;

  wchar_t name[PATH_UNITS];
  BoundedCopyW(name, PATH_UNITS, commandLine != nullptr ? commandLine : L"");
  if (!IsBadStringW(name) && name[0] != 0) TrimW(name, kCommandLineTrimSet);
  if (!PipeConnect(&state.channel, name)) return false;
  state.channel.continueHook = ReleaseIdleSpare;
  state.channel.hookUserData = &state;

  osSetThreadPriority(osGetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  while (ServeOne(&state)) {
  }
  osSetThreadPriority(osGetCurrentThread(), THREAD_PRIORITY_NORMAL);
  ReleaseLoopState(&state);
  PipeClose(&state.channel);
  return true;
}
