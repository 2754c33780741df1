// What the request loop owns for its whole run.
#pragma once
#include <cstdint>

#include "call/job_record.h"
#include "base/memory.h"
#include "server/pipe_channel.h"
#include "wire/protocol.h"

struct PluginCatalog;

struct JobSlot {
  JobRecord record;
  void* thread;  // the job thread's handle, or null
  JobStatusRecord work;
};

struct LoopState {
  PipeChannel channel;
  uintptr_t hostWindow;
  HostSettings hostSettings;
  PluginCatalog* catalogue;
  OwnedBlock image;  // the held ImageBlock
  JobSlot about;
  JobSlot filter;

  MessageHeader request;
  OwnedBlock requestPayload;  // a handler that keeps it moves it out
  MessageHeader reply;
  OwnedBlock replyPayload;
};

// Payloads are read, and their memory committed, in pieces of this size.
constexpr uint32_t PAYLOAD_PIECE_BYTES = 1u << 20;

using RequestHandler = void (*)(LoopState* state);

// The handler for a kind, or null for kinds the server does not serve.
RequestHandler FindRequestHandler(uint32_t kind);
// Answers the request in `request` and `requestPayload` under the guard: sets
// the reply header and payload and releases the request payload unless a
// handler kept it. The caller reads and writes the pipe.
void AnswerRequest(LoopState* state);
// Releases what the loop holds. Blocks a still-running job may use are kept:
// the process ends right after, which ends the job with it.
void ReleaseLoopState(LoopState* state);

// Sets the status and answers whether the payload has at least `needed` bytes.
bool NeedPayload(LoopState* state, uint32_t needed);
void SetStatus(LoopState* state, ReplyStatus status);
// Attaches a fresh zero-filled reply payload; null (and ST_NO_MEMORY) on failure.
uint8_t* AttachReplyPayload(LoopState* state, uint32_t length);

// Handlers, one file per request family.
void HandleQuit(LoopState* state);
void HandleSetHost(LoopState* state);
void HandleAboutStart(LoopState* state);
void HandleAboutPoll(LoopState* state);
void HandleFilterStart(LoopState* state);
void HandleFilterPoll(LoopState* state);
void HandleFetchImage(LoopState* state);
void HandleFilterAbort(LoopState* state);
void HandleScanFolder(LoopState* state);
