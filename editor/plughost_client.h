// Editor-side library: creates the pipe, starts the server on it and moves
// requests and replies. Plain functions over a small struct; every function
// answers nonzero on success.
#pragma once
#include <cstdint>

#include "wire/protocol.h"

struct PlughostClient {
  void* pipe;     // our end of the named pipe
  void* process;  // the server process
  uint32_t processId;
  wchar_t pipeName[64];
  uint32_t replyTimeoutMs;  // how long a reply may take; default 120000
  void* event;              // the transfers' event, made by the first, closed with the pipe
};

struct PlughostReply {
  MessageHeader header;
  uint8_t* payload;  // PlughostFreeReply releases it
  uint32_t length;
};

// Creates the pipe (byte mode, duplex, overlapped), which only our own user
// may open and only from this machine. A null name picks one with 128 random
// bits. Fails when a pipe of the name exists already, whoever made it.
int PlughostCreatePipe(PlughostClient* client, const wchar_t* name);
// Starts `serverExe` with `commandLine` (the pipe name when null) and waits
// until it has connected, or has exited. A client other than the process
// started is disconnected unheard. The server gets no standard handles
// and inherits none of ours.
int PlughostLaunch(PlughostClient* client, const wchar_t* serverExe, const wchar_t* commandLine);
// Both of the above.
int PlughostStart(PlughostClient* client, const wchar_t* serverExe);

// Header, then payload in pieces of PIPE_PIECE_BYTES.
int PlughostSend(PlughostClient* client, uint32_t kind, int64_t argument, const void* payload, uint32_t length);
// Writes raw bytes (for tests of malformed traffic).
int PlughostSendRaw(PlughostClient* client, const void* bytes, uint32_t length);
int PlughostReceive(PlughostClient* client, PlughostReply* reply);
// A reply whose payload, when it is exactly headLength + bodyLength bytes,
// lands in the caller's memory: its start in `head`, the rest in `body` (a
// fetched image's header and the editor's own pixel buffer). reply->payload
// then stays null and reply->length tells the length. Any other payload is
// received as PlughostReceive receives it.
int PlughostReceiveInto(PlughostClient* client, PlughostReply* reply, void* head, uint32_t headLength, void* body,
                        uint32_t bodyLength);
int PlughostRequest(PlughostClient* client, uint32_t kind, int64_t argument, const void* payload, uint32_t length,
                    PlughostReply* reply);
void PlughostFreeReply(PlughostReply* reply);

// What a server that predates REQ_SERVER_INFO serves: protocol 1.
constexpr uint64_t PLUGHOST_PROTOCOL1_KINDS = (1ull << REQ_QUIT) | (1ull << REQ_SCAN_FOLDER) | (1ull << REQ_SET_HOST) |
                                              (1ull << REQ_ABOUT_START) | (1ull << REQ_ABOUT_POLL) |
                                              (1ull << REQ_FILTER_START) | (1ull << REQ_FILTER_POLL) |
                                              (1ull << REQ_FETCH_IMAGE);
// Asks the server what it is (REQ_SERVER_INFO). The empty ST_OK of an older
// server reads as protocol 1, product version 0, PLUGHOST_PROTOCOL1_KINDS.
// Answers 0 when no reply came or the reply is of another shape.
int PlughostServerInfo(PlughostClient* client, ServerInfoReply* info);
inline bool PlughostServes(const ServerInfoReply& info, uint32_t kind) {
  return kind < 64 && ((info.servedKinds >> kind) & 1) != 0;
}
// REQ_FILTER_START_EX: its header and the settings block (none when
// settingsLength is 0), then the ImageBlock, in one payload: the server
// takes each payload in one piece. *status gets the reply's status. Answers
// 0 when the parts exceed one payload, memory runs out or no reply came.
int PlughostFilterStartEx(PlughostClient* client, int64_t index, uint32_t mode, const void* settings,
                          uint32_t settingsLength, const void* image, uint32_t imageLength, int64_t* status);
// The same payload without copying the image: an editor that keeps room for
// PlughostStartExPrefixBytes(settingsLength) bytes before its ImageBlock
// writes the header and settings there and sends the whole with
// PlughostRequest. 0 when the settings are too long.
uint32_t PlughostStartExPrefixBytes(uint32_t settingsLength);
void PlughostWriteStartExPrefix(void* payload, uint32_t mode, const void* settings, uint32_t settingsLength);
// REQ_FETCH_SETTINGS: on ST_OK the reply's payload is the settings block the
// last Filter job recorded.
int PlughostFetchSettings(PlughostClient* client, PlughostReply* reply);
// An image in memory shared with the server: a section holding an
// ImageBlock, mapped here. The editor writes the pixels after the header and
// leaves them alone while a job runs; a copy of its own is its only
// safeguard should the server die mid-job.
struct PlughostSharedImage {
  void* section;
  uint8_t* block;  // the header; width × height × 4 bytes of pixels follow
  uint64_t bytes;
};
// Creates the section for a width × height image and writes its header.
int PlughostCreateSharedImage(PlughostSharedImage* image, uint32_t width, uint32_t height, double horizontalResolution,
                              double verticalResolution);
void PlughostFreeSharedImage(PlughostSharedImage* image);
// Starts a Filter job on a shared image in one call: duplicates the section
// into the server and sends the extended start, with the settings block
// given (may be empty). *status gets the reply's status. A job so started
// is fetched with REQ_FETCH_IMAGE as usual; its reply carries no payload,
// the pixels being in the section already.
int PlughostStartSharedFilter(PlughostClient* client, int64_t index, uint32_t mode, const void* settings,
                              uint32_t settingsLength, const PlughostSharedImage* image, int64_t* status);

// Sends REQ_QUIT (no reply follows).
int PlughostQuit(PlughostClient* client);
// Closes our end of the pipe; the server then ends.
void PlughostClosePipe(PlughostClient* client);
// Waits for the server to end; answers 0 on time-out.
int PlughostWaitExit(PlughostClient* client, uint32_t timeoutMs, uint32_t* exitCode);
// Closes everything; a server still running is left to end on its own.
void PlughostClose(PlughostClient* client);
// Ends a server that does not end on its own.
void PlughostKill(PlughostClient* client);

// The folder of the running program, with a trailing backslash.
void PlughostProgramFolder(wchar_t* folder, uint32_t capacity);
