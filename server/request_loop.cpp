#include "server/request_loop.h"

#include <windows.h>
#include <cstring>

#include "server/loop_state.h"
#include "server/memory.h"
#include "server/text/guard.h"

bool NeedPayload(LoopState* state, uint32_t needed) {
  if (state->requestPayload == nullptr || state->request.payloadLength < needed) {
    SetStatus(state, ST_BAD_PAYLOAD);
    return false;
  }
  return true;
}

void SetStatus(LoopState* state, ReplyStatus status) { state->reply.argument = status; }

uint8_t* AttachReplyPayload(LoopState* state, uint32_t length) {
  FreeBlock(state->replyPayload);
  state->replyPayload = static_cast<uint8_t*>(AllocZeroed(length));
  state->reply.payloadLength = state->replyPayload != nullptr ? length : 0;
  if (state->replyPayload == nullptr) SetStatus(state, ST_NO_MEMORY);
  return state->replyPayload;
}

static bool ThreadRunning(void* thread) {
  DWORD code = 0;
  return thread != nullptr && (!GetExitCodeThread(thread, &code) || code == STILL_ACTIVE);
}

bool AnyJobRunning(const LoopState* state) {
  return ThreadRunning(state->about.thread) || ThreadRunning(state->filter.thread);
}

// One request: read, dispatch under the guard, reply. False ends the loop.
static bool ServeOne(LoopState* state) {
  memset(&state->request, 0, sizeof(state->request));
  memset(&state->reply, 0, sizeof(state->reply));
  state->requestPayload = nullptr;
  state->replyPayload = nullptr;
  state->requestTaken = false;

  if (!PipeRead(&state->channel, &state->request, sizeof(MessageHeader))) return false;
  if (state->request.payloadLength != 0) {
    // Not cleared first: a successful read overwrites every byte, and a failed
    // one ends the loop. Clearing a large image first would only cost time.
    state->requestPayload = static_cast<uint8_t*>(AllocFixed(state->request.payloadLength));
    if (state->requestPayload == nullptr) return false;
    if (!PipeRead(&state->channel, state->requestPayload, state->request.payloadLength)) {
      FreeBlock(state->requestPayload);
      return false;
    }
  }
  state->reply.kind = state->request.kind | REPLY_FLAG;
  SetStatus(state, ST_OK);

  RequestHandler handler = FindRequestHandler(state->request.kind);
  // A fault while handling stops the handler where it was; the reply goes out
  // with ST_FAULT and whatever payload it had prepared.
  if (handler != nullptr && !Guarded([&] { handler(state); })) SetStatus(state, ST_FAULT);

  if (!state->requestTaken) FreeBlock(state->requestPayload);
  state->requestPayload = nullptr;

  if (state->request.kind == REQ_QUIT) {
    FreeBlock(state->replyPayload);
    return false;
  }
  bool ok = PipeWrite(&state->channel, &state->reply, sizeof(MessageHeader));
  if (ok && state->reply.payloadLength != 0 && state->replyPayload != nullptr)
    ok = PipeWrite(&state->channel, state->replyPayload, state->reply.payloadLength);
  FreeBlock(state->replyPayload);
  state->replyPayload = nullptr;
  return ok;
}

// Releases what the loop holds. Blocks a still-running job may use are kept:
// the process ends right after, which ends the job with it.
void ReleaseLoopState(LoopState* state);

bool RunServer(const wchar_t* commandLine) {
  static LoopState state;  // large; kept off the stack
  memset(&state, 0, sizeof(state));
  state.channel.handle = INVALID_HANDLE_VALUE;

  wchar_t name[PATH_UNITS];
  BoundedCopyW(name, PATH_UNITS, commandLine != nullptr ? commandLine : L"");
  if (!IsBadStringW(name) && name[0] != 0) TrimW(name, kCommandLineTrimSet);
  if (!PipeConnect(&state.channel, name)) return false;

  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  while (ServeOne(&state)) {
  }
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
  ReleaseLoopState(&state);
  PipeClose(&state.channel);
  return true;
}
