// What the request loop owns for its whole run.
#pragma once
#include <cstdint>

#include "server/clock.h"
#include "server/job_record.h"
#include "server/memory.h"
#include "server/pipe_channel.h"
#include "server/protocol.h"

struct PluginCatalog;

struct JobSlot {
  JobRecord record;
  void* thread;  // the job thread's handle, or null
  JobStatusRecord work;
  void* wake;               // the job's progress event, made at the first start
  double repliedProgress;   // the progress the last poll reply carried
  uint64_t startNumber;     // orders the slots' jobs: the higher started later
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
  ClockStamp spareSince;  // when the last reply went out
};

// Payloads are read, and their memory committed, in pieces of this size.
constexpr uint32_t PAYLOAD_PIECE_BYTES = 1u << 20;
// How long a released image's region is kept for the next request.
constexpr uint32_t SPARE_IDLE_MS = 2000;

using RequestHandler = void (*)(LoopState* state);

// The handler for a kind, or null for kinds the server does not serve.
RequestHandler FindRequestHandler(uint32_t kind);

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
void HandleJobWait(LoopState* state);
void HandleScanFolder(LoopState* state);
