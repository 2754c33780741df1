// The records that cross the editor's pipe: little-endian, packed, UTF-16 text,
// the same in both builds. Shared by the server and the editor-side library.
#pragma once
#include <cstddef>
#include <cstdint>

#include "wire/settings_header.h"


enum RequestKind : uint32_t {
  REQ_QUIT = 1,
  REQ_SCAN_FOLDER = 16,
  REQ_SET_HOST = 17,
  REQ_ABOUT_START = 18,
  REQ_ABOUT_POLL = 19,
  REQ_FILTER_START = 20,
  REQ_FILTER_POLL = 21,
  REQ_FETCH_IMAGE = 22,
  // Asks the running Filter job to stop; an older server answers it as an
  // unknown kind (ST_OK), so editors may send it safely.
  REQ_FILTER_ABORT = 23,
  // Extensions, kinds 24 to 63. An older server answers each as an unknown
  // kind: ST_OK without a payload.
  // No payload; answers a ServerInfoReply. The client library reads an empty
  // ST_OK as protocol 1 and sends such a server no kind beyond REQ_FETCH_IMAGE.
  REQ_SERVER_INFO = 24,
  REQ_FILTER_START_EX = 25,  // argument: plug-in index; payload FilterStartExHeader, settings block, ImageBlock
  // No payload; reply the settings block the last Filter job recorded:
  // ST_BAD_INDEX before any has ended, ST_NOT_READY while one runs.
  REQ_FETCH_SETTINGS = 26,
  // A Filter or About poll that waits, up to the header's argument in
  // milliseconds (at most 1000), for the job to end or its progress to move
  // by a per cent since the last poll reply.
  REQ_JOB_WAIT = 27,
};

constexpr int64_t JOB_WAIT_LIMIT_MS = 1000;

// What REQ_SERVER_INFO reports; an editor reads an empty ST_OK reply as
// protocol 1.
constexpr uint32_t PROTOCOL_VERSION = 3;  // 3: shared-memory images

// How a REQ_FILTER_START_EX job runs.
enum StartMode : uint32_t {
  START_MODE_PLAIN = 0,   // as REQ_FILTER_START: Parameters is sent; no descriptor, no parameters
  START_MODE_DIALOG = 1,  // Parameters is sent, starting from the settings; playInfo "display"
  START_MODE_REPLAY = 2,  // no Parameters; the settings are offered with playInfo "don't display"
  START_MODE_SILENT = 3,  // as replay, with playInfo "silent"
};

// Where a REQ_FILTER_START_EX finds its image.
enum ImageSource : uint32_t {
  IMAGE_SOURCE_INLINE = 0,  // the ImageBlock follows the settings in the payload
  IMAGE_SOURCE_SHARED = 1,  // a SharedImageRef ends the payload instead
};

constexpr uint32_t REPLY_FLAG = 0x40000000u;

// Both ends move large payloads in system calls of at most this many bytes.
// Not part of the format (a reader takes the bytes as they come), but Wine
// buffers each pipe write whole in its server and, past 32 MiB, in memory
// fresh for every write: one 64 MiB write moves at half the speed.
constexpr uint32_t PIPE_PIECE_BYTES = 4u << 20;

enum ReplyStatus : int64_t {
  ST_OK = 0,
  ST_THREAD_FAILED = 1,
  ST_NOT_READY = 2,
  ST_NO_MEMORY = 3,
  ST_BAD_PAYLOAD = 4,
  ST_NO_IMAGE = 5,
  ST_BAD_FOLDER = 6,
  ST_BAD_INDEX = 7,
  ST_FAULT = 13,
};

enum JobState : uint8_t {
  JOB_RUNNING = 1,
  JOB_DONE = 2,
  JOB_FAILED = 3,
  JOB_CANCELLED = 4,
};

#pragma pack(push, 1)

struct MessageHeader {
  uint32_t kind;
  uint32_t zero0;
  int64_t argument;  // request: plug-in index; reply: ReplyStatus
  uint8_t zero1[12];
  uint32_t payloadLength;
};

struct HostSettings {
  uint32_t hostWindow;
  uint32_t foreground;  // 0x00RRGGBB
  uint32_t background;
};

struct ImageBlockHeader {
  uint32_t width;
  uint32_t height;
  double horizontalResolution;
  double verticalResolution;
  // width × height × 4 bytes of blue, green, red, alpha follow
};

// How an extended Filter start's payload ends when its image lies in a
// section of the editor's: the section's handle as the server knows it (the
// editor duplicated it into the server, which then owns it) and the offset
// of the ImageBlock in the section.
struct SharedImageRef {
  uint64_t section;
  uint64_t offset;
};

struct PluginEntry {
  wchar_t path[260];
  wchar_t name[256];
  wchar_t entryPoint[256];
};

struct ServerInfoReply {
  uint32_t protocolVersion;  // PROTOCOL_VERSION
  uint32_t productVersion;   // major << 16 | minor << 8 | patch
  uint64_t servedKinds;      // bit k set for every request kind k < 64 this server serves
};

struct CatalogueReplyHeader {
  uint32_t count;
  uint8_t buildFlag;
  uint8_t zero[3];
  // count PluginEntry records follow
};

struct JobStatusRecord {
  uint8_t state;
  uint8_t untouched0[3];
  double progress;
  uint32_t resultCode;
  wchar_t message[256];
  uint8_t untouched1[8];
};


struct FilterStartExHeader {
  uint32_t headerBytes;    // at least 16; bytes past the fields known here are skipped
  uint32_t mode;           // StartMode
  uint32_t imageSource;    // ImageSource
  uint32_t settingsBytes;  // the settings block that follows; 0 for none
};

#pragma pack(pop)

static_assert(sizeof(wchar_t) == 2, "text on the wire is UTF-16");
static_assert(sizeof(MessageHeader) == 32);
static_assert(offsetof(MessageHeader, argument) == 8);
static_assert(offsetof(MessageHeader, payloadLength) == 28);
static_assert(sizeof(HostSettings) == 12);
static_assert(sizeof(ImageBlockHeader) == 24);
static_assert(sizeof(SharedImageRef) == 16);
static_assert(sizeof(PluginEntry) == 1544);
static_assert(offsetof(PluginEntry, name) == 520);
static_assert(offsetof(PluginEntry, entryPoint) == 1032);
static_assert(sizeof(ServerInfoReply) == 16);
static_assert(sizeof(CatalogueReplyHeader) == 8);
static_assert(sizeof(JobStatusRecord) == 536);
static_assert(offsetof(JobStatusRecord, progress) == 4);
static_assert(offsetof(JobStatusRecord, resultCode) == 12);
static_assert(offsetof(JobStatusRecord, message) == 16);
static_assert(offsetof(JobStatusRecord, untouched1) == 528);
static_assert(offsetof(ServerInfoReply, servedKinds) == 8);
static_assert(sizeof(FilterStartExHeader) == 16);
static_assert(offsetof(FilterStartExHeader, settingsBytes) == 12);

// The settings block's layout: wire/settings_header.h.

constexpr uint32_t IMAGE_HEADER_BYTES = 24;
constexpr uint32_t JOB_STATUS_BYTES = 536;
constexpr uint32_t START_EX_HEADER_BYTES = 16;
constexpr uint32_t SERVER_INFO_BYTES = 16;

// Build identity: the catalogue flag byte and the code property this build reads.
#if defined(_WIN64)
constexpr uint8_t CATALOGUE_BUILD_FLAG = 1;
#else
constexpr uint8_t CATALOGUE_BUILD_FLAG = 0;
#endif
