// What the request loop owns for its whole run.
#pragma once
#include <cstdint>

#include "call/job_record.h"
#include "base/memory.h"
#include "base/clock.h"
#include "server/job_threads.h"
#include "server/pipe_channel.h"
#include "wire/protocol.h"

struct PluginCatalog;

struct JobSlot {
  JobRecord record;
  void* thread;  // the job thread's handle, or null
  JobStatusRecord work;
  JobThreadMain main;       // what the job thread runs
  double repliedProgress;   // the progress the last poll reply carried
  uint64_t startNumber;     // orders the slots' jobs: the higher started later
};

struct LoopState {
  PipeChannel channel;
  uintptr_t hostWindow;
  HostSettings hostSettings;
  PluginCatalog* catalogue;
  OwnedBlock image;      // the held ImageBlock, with what came before it in its request
  uint64_t imageOffset;  // where the ImageBlock begins in `image`
  // A start whose image lies in the editor's section: its request, whose
  // settings the job replays, kept for as long as the image is held.
  OwnedBlock sharedStart;
  JobSlot about;
  JobSlot filter;
  OwnedBlock settings;  // the settings block the last ended Filter job recorded
  bool filterJobEnded;  // a Filter job has ended since the loop began

  MessageHeader request;
  OwnedBlock requestPayload;  // a handler that keeps it moves it out
  MessageHeader reply;
  OwnedBlock replyPayload;
  uint64_t replyOffset;  // where the reply's payload begins in replyPayload
  ClockStamp spareSince;  // when the last reply went out
};

// Payloads are read, and their memory committed, in pieces of this size.
constexpr uint32_t PAYLOAD_PIECE_BYTES = PIPE_PIECE_BYTES;
// How long a released image's region is kept for the next request.
constexpr uint32_t SPARE_IDLE_MS = 2000;

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
// Bit k set for every kind k < 64 that has a handler.
uint64_t ServedKindsMask();

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
void HandleFilterStartEx(LoopState* state);
void HandleServerInfo(LoopState* state);
void HandleFetchSettings(LoopState* state);
// Takes over the settings block an ended Filter job recorded, once.
void KeepRecordedSettings(LoopState* state);
void HandleJobWait(LoopState* state);
void HandleScanFolder(LoopState* state);
