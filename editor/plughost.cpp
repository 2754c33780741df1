// The C interface: sessions over the C++ client, with restarts of an ended
// server, the keep-alive thread, the hidden window and the error texts.
// Written without the C++ runtime (no new, no exceptions, no library
// containers), so that a C program links the library as it is.
#include "editor/plughost.h"

#include <windows.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "editor/hidden_window.h"
#include "editor/plughost_client.h"
#include "plughost_version.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr uint32_t kPollIntervalMs = 100;
constexpr uint32_t kDefaultKeepaliveMs = 20000;
constexpr uint32_t kQuitWaitMs = 10000;
constexpr uint32_t kPathUnits = 1024;

}  // namespace

struct plughost_session {
  CRITICAL_SECTION lock;
  LONG inCall;  // a call holds the lock; the progress callback runs inside it
  PlughostClient client;
  bool connected;  // `client` holds a server we started, not yet seen to end
  uint32_t endedExitCode;
  wchar_t serverPath[kPathUnits];  // set by the first plughost_start that found a program
  ServerInfoReply info;
  bool hostSet;
  HostSettings host;
  PlughostHiddenWindow hidden;
  bool scanned;
  wchar_t scanFolder[kPathUnits];
  plughost_plugin* entries;  // of the last scan, from the process heap
  uint32_t entryCount;
  // The filter of plughost_filter_start, until its end has been polled (and,
  // when it succeeded, its pixels fetched).
  bool filterRunning;
  bool fetchPending;
  uint32_t jobWidth, jobHeight;
  bool abortSent;
  // What plughost_use_settings chose for the following filters.
  uint32_t settingsMode;
  uint8_t* settings;  // from the process heap; null for none
  uint32_t settingsLength;
  PlughostSharedImage shared;  // plughost_shared_image_create's, if any
  bool jobShared;              // the filter started works on `shared`
  std::atomic<LONG> cancels;  // plughost_cancel calls since the job started
  HANDLE cancelEvent;     // set with every cancel, to cut a wait short
  HANDLE stopEvent;       // ends the keep-alive thread
  HANDLE wakeEvent;       // the keep-alive interval changed
  HANDLE keepaliveThread;
  std::atomic<LONG> keepaliveMs;
  DWORD lastExchange;
  uint32_t restarts;
  plughost_status lastError;
  char lastErrorText[PLUGHOST_TEXT_BYTES];
};

namespace {

// ---- Text ----

// UTF-16 of at most `units` units (a field need not be terminated) into
// UTF-8, cut at a whole character to fit.
void ToUtf8(const wchar_t* text, size_t units, char* out, size_t bytes) {
  size_t n = 0;
  while (n < units && text[n] != 0) ++n;
  int written = 0;
  while (n > 0 && (written = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out,
                                                  static_cast<int>(bytes - 1), nullptr, nullptr)) == 0)
    --n;  // too long: one unit less
  out[written] = 0;
}

bool FromUtf8(const char* text, wchar_t* out, uint32_t units) {
  if (text == nullptr || text[0] == 0) return false;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, static_cast<int>(units));
  return n > 0;
}

void SystemText(DWORD code, char* out, size_t bytes) {
  wchar_t text[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 256,
                           nullptr);
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L'.')) --n;
  if (n == 0) {
    snprintf(out, bytes, "system error %lu", static_cast<unsigned long>(code));
    return;
  }
  ToUtf8(text, n, out, bytes);
}

struct StatusRow {
  plughost_status status;
  const char* text;
};

const StatusRow kStatusTexts[] = {
    {PLUGHOST_OK, "done"},
    {PLUGHOST_SERVER_THREAD_FAILED, "the server could not start the job, or one is still running"},
    {PLUGHOST_SERVER_NOT_READY, "the server is not ready: no host window, no scan, or a job is running"},
    {PLUGHOST_SERVER_NO_MEMORY, "the server is out of memory"},
    {PLUGHOST_SERVER_BAD_PAYLOAD, "the server found the request malformed"},
    {PLUGHOST_SERVER_NO_IMAGE, "the server holds no image, or the image sent was incomplete"},
    {PLUGHOST_SERVER_BAD_FOLDER, "the folder is missing, or its path is too long"},
    {PLUGHOST_SERVER_BAD_INDEX, "no such plug-in or job"},
    {PLUGHOST_SERVER_FAULT, "the server faulted while handling the request"},
    {PLUGHOST_ERROR_ARGUMENT, "a bad argument"},
    {PLUGHOST_ERROR_NO_MEMORY, "out of memory"},
    {PLUGHOST_ERROR_NO_SERVER, "the server program was not found"},
    {PLUGHOST_ERROR_START, "the server did not start or did not connect"},
    {PLUGHOST_ERROR_LOST, "the server ended or stopped answering"},
    {PLUGHOST_ERROR_NOT_STARTED, "no server: plughost_start has not succeeded"},
    {PLUGHOST_ERROR_NO_HOST, "no host window: call plughost_set_host (plughost_hidden_window makes one)"},
    {PLUGHOST_ERROR_NO_SCAN, "no such plug-in in the last scan, or no scan yet"},
    {PLUGHOST_ERROR_UNSUPPORTED, "the server is too old for this"},
    {PLUGHOST_ERROR_BUSY, "the session is in a call: only plughost_cancel may be called from its callback"},
    {PLUGHOST_ERROR_SMALL_BUFFER, "more entries than the array holds"},
    {PLUGHOST_ERROR_BAD_REPLY, "the server's reply had an unexpected shape"},
    {PLUGHOST_ERROR_SCAN_CHANGED, "the restarted server found other plug-ins: scan again"},
    {PLUGHOST_ERROR_NO_JOB, "no filter to poll or fetch"},
    {PLUGHOST_FILTER_FAILED, "the filter failed"},
    {PLUGHOST_CANCELLED, "cancelled"},
};

// ---- Calls ----

// Records a failure with its text; answers the status.
plughost_status Fail(plughost_session* s, plughost_status status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(s->lastErrorText, sizeof(s->lastErrorText), format, args);
  va_end(args);
  s->lastError = status;
  return status;
}

// Every call on a session begins here. False: the call comes from inside
// another (the progress callback) and must not proceed.
bool Enter(plughost_session* s) {
  EnterCriticalSection(&s->lock);
  if (s->inCall) {
    LeaveCriticalSection(&s->lock);
    return false;
  }
  s->inCall = 1;
  s->lastErrorText[0] = 0;
  return true;
}

plughost_status Leave(plughost_session* s, plughost_status status) {
  s->lastError = status;
  if (status == PLUGHOST_OK) s->lastErrorText[0] = 0;
  s->inCall = 0;
  LeaveCriticalSection(&s->lock);
  return status;
}

void ClearResult(plughost_result* result) {
  if (result != nullptr) memset(result, 0, sizeof(*result));
}

// ---- The server process ----

// Lets go of the server: asks it to quit when `quit`, and ends it when it
// does not end by itself. Its exit code is kept for the next restart's report.
void Disconnect(plughost_session* s, bool quit) {
  if (!s->connected) return;
  if (quit) PlughostQuit(&s->client);
  PlughostClosePipe(&s->client);
  uint32_t code = 0;
  if (!PlughostWaitExit(&s->client, quit ? kQuitWaitMs : 0, &code)) {
    PlughostKill(&s->client);
    PlughostWaitExit(&s->client, kQuitWaitMs, &code);
  }
  PlughostClose(&s->client);
  s->endedExitCode = code;
  s->connected = false;
  s->filterRunning = false;
  s->fetchPending = false;
}

// The server stopped answering `during` something: say how it ended.
plughost_status Lost(plughost_session* s, const char* during) {
  uint32_t code = 0;
  bool ended = PlughostWaitExit(&s->client, 5000, &code);
  Disconnect(s, false);
  if (ended) return Fail(s, PLUGHOST_ERROR_LOST, "the server ended %s (exit code %u)", during, code);
  return Fail(s, PLUGHOST_ERROR_LOST, "the server stopped answering %s and was ended", during);
}

// One request and its reply. Refused unsent when the server does not serve
// the kind. A status other than ST_OK becomes the call's; the reply's
// payload is handed over in *reply only when the status is ST_OK.
plughost_status Request(plughost_session* s, uint32_t kind, int64_t argument, const void* payload, uint32_t length,
                        PlughostReply* reply, const char* during) {
  if (!PlughostServes(s->info, kind))
    return Fail(s, PLUGHOST_ERROR_UNSUPPORTED, "the server (protocol %u) does not serve request kind %u",
                s->info.protocolVersion, kind);
  PlughostReply own;
  PlughostReply* r = reply != nullptr ? reply : &own;
  if (!PlughostRequest(&s->client, kind, argument, payload, length, r)) return Lost(s, during);
  s->lastExchange = GetTickCount();
  if (r->header.kind != (kind | REPLY_FLAG)) {
    PlughostFreeReply(r);
    Disconnect(s, false);  // out of step: nothing it says can be trusted
    return Fail(s, PLUGHOST_ERROR_BAD_REPLY, "the server answered request kind %u with kind 0x%08x", kind,
                r->header.kind);
  }
  int64_t status = r->header.argument;
  if (status != ST_OK || reply == nullptr) PlughostFreeReply(r);
  if (status == ST_OK) return PLUGHOST_OK;
  // The server's statuses keep their numbers; one we do not know is no answer.
  bool known = false;
  for (const StatusRow& row : kStatusTexts) known |= status > 0 && status < 64 && row.status == status;
  plughost_status mine = known ? static_cast<plughost_status>(status) : PLUGHOST_ERROR_BAD_REPLY;
  return Fail(s, mine, "the server refused %s: %s (status %lld)", during,
              known ? plughost_status_text(mine) : "an unknown status", static_cast<long long>(status));
}

// Starts the server on a fresh pipe, learns what it serves and hands it the
// host settings, if the editor has given them.
plughost_status Launch(plughost_session* s) {
  char path[PLUGHOST_TEXT_BYTES];
  ToUtf8(s->serverPath, kPathUnits, path, sizeof(path));
  DWORD attributes = GetFileAttributesW(s->serverPath);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return Fail(s, PLUGHOST_ERROR_NO_SERVER, "no server program at %s", path);
  char why[256];
  if (!PlughostCreatePipe(&s->client, nullptr)) {
    SystemText(GetLastError(), why, sizeof(why));
    return Fail(s, PLUGHOST_ERROR_START, "cannot create the server's pipe: %s", why);
  }
  if (!PlughostLaunch(&s->client, s->serverPath, nullptr)) {
    SystemText(GetLastError(), why, sizeof(why));
    bool ran = s->client.process != nullptr;
    if (ran) PlughostKill(&s->client);
    PlughostClose(&s->client);
    if (ran) return Fail(s, PLUGHOST_ERROR_START, "%s started but did not connect", path);
    return Fail(s, PLUGHOST_ERROR_START, "%s cannot start: %s", path, why);
  }
  s->connected = true;
  s->lastExchange = GetTickCount();
  if (!PlughostServerInfo(&s->client, &s->info)) return Lost(s, "when asked what it serves");
  if (s->hostSet) return Request(s, REQ_SET_HOST, 0, &s->host, sizeof(s->host), nullptr, "the host settings");
  return PLUGHOST_OK;
}

bool SameEntries(const plughost_plugin* a, uint32_t na, const plughost_plugin* b, uint32_t nb) {
  return na == nb && (na == 0 || memcmp(a, b, na * sizeof(plughost_plugin)) == 0);
}

// Scans `folder` on the server into the session's entries. A replay of the
// last scan for a restarted server must find what the editor was told of.
plughost_status Scan(plughost_session* s, const wchar_t* folder, bool replay) {
  uint32_t bytes = static_cast<uint32_t>((wcslen(folder) + 1) * sizeof(wchar_t));
  PlughostReply reply;
  memset(&reply, 0, sizeof(reply));
  plughost_status status = Request(s, REQ_SCAN_FOLDER, 0, folder, bytes, &reply, "the scan");
  uint32_t count = 0;
  plughost_plugin* entries = nullptr;
  if (status == PLUGHOST_SERVER_BAD_INDEX) {
    status = PLUGHOST_OK;  // what the server says of a folder without plug-ins
  } else if (status == PLUGHOST_OK) {
    CatalogueReplyHeader head;
    if (reply.length < sizeof(head)) {
      PlughostFreeReply(&reply);
      return Fail(s, PLUGHOST_ERROR_BAD_REPLY, "the server sent no catalogue");
    }
    memcpy(&head, reply.payload, sizeof(head));
    // Only the records that arrived count.
    uint64_t room = (reply.length - sizeof(head)) / sizeof(PluginEntry);
    count = static_cast<uint32_t>(head.count < room ? head.count : room);
    if (count != 0) {
      entries = static_cast<plughost_plugin*>(
          HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(count) * sizeof(plughost_plugin)));
      if (entries == nullptr) {
        PlughostFreeReply(&reply);
        return Fail(s, PLUGHOST_ERROR_NO_MEMORY, "no memory for %u catalogue entries", count);
      }
    }
    for (uint32_t i = 0; i < count; ++i) {
      PluginEntry e;
      memcpy(&e, reply.payload + sizeof(head) + static_cast<uint64_t>(i) * sizeof(PluginEntry), sizeof(e));
      entries[i].index = i;
      ToUtf8(e.name, 256, entries[i].name, PLUGHOST_TEXT_BYTES);
      ToUtf8(e.path, 260, entries[i].path, PLUGHOST_TEXT_BYTES);
      ToUtf8(e.entryPoint, 256, entries[i].entry_point, PLUGHOST_TEXT_BYTES);
    }
    PlughostFreeReply(&reply);
  }
  if (status != PLUGHOST_OK) return status;
  bool changed = replay && !SameEntries(s->entries, s->entryCount, entries, count);
  if (s->entries != nullptr) HeapFree(GetProcessHeap(), 0, s->entries);
  s->entries = entries;
  s->entryCount = count;
  if (!replay) wcscpy(s->scanFolder, folder);
  s->scanned = true;
  if (changed) {
    char text[PLUGHOST_TEXT_BYTES];
    ToUtf8(folder, kPathUnits, text, sizeof(text));
    return Fail(s, PLUGHOST_ERROR_SCAN_CHANGED,
                "the server was started again and its scan of %s found other plug-ins than before: scan again",
                text);
  }
  return PLUGHOST_OK;
}

// A server for the call: the running one, or, when it has ended, a new one
// with the host settings and (unless the call scans anew) the last scan.
plughost_status EnsureServer(plughost_session* s, bool replayScan, plughost_result* result) {
  if (s->serverPath[0] == 0) return Fail(s, PLUGHOST_ERROR_NOT_STARTED, "no server: plughost_start has not succeeded");
  if (s->connected && WaitForSingleObject(s->client.process, 0) == WAIT_TIMEOUT) return PLUGHOST_OK;
  Disconnect(s, false);
  uint32_t ended = s->endedExitCode;
  plughost_status status = Launch(s);
  if (status != PLUGHOST_OK) return status;
  ++s->restarts;
  if (result != nullptr) {
    result->restarted = 1;
    result->ended_exit_code = ended;
  }
  if (replayScan && s->scanned) return Scan(s, s->scanFolder, true);
  return PLUGHOST_OK;
}

plughost_status NeedPlugin(plughost_session* s, uint32_t index) {
  if (s->serverPath[0] == 0) return Fail(s, PLUGHOST_ERROR_NOT_STARTED, "no server: plughost_start has not succeeded");
  if (!s->hostSet)
    return Fail(s, PLUGHOST_ERROR_NO_HOST,
                "no host window: the server owns plug-in dialogs to the editor's window; call plughost_set_host "
                "(plughost_hidden_window makes one for an editor without windows)");
  if (!s->scanned) return Fail(s, PLUGHOST_ERROR_NO_SCAN, "no scan yet: call plughost_scan first");
  if (index >= s->entryCount)
    return Fail(s, PLUGHOST_ERROR_NO_SCAN, "plug-in %u is beyond the last scan, which found %u", index,
                s->entryCount);
  return PLUGHOST_OK;
}

// ---- Jobs ----

bool CancelAsked(plughost_session* s) { return s->cancels > 0 && WaitForSingleObject(s->cancelEvent, 0) == WAIT_OBJECT_0; }

void StatusToResult(const JobStatusRecord& status, plughost_result* result) {
  if (result == nullptr) return;
  result->plugin_result = static_cast<int32_t>(status.resultCode);
  ToUtf8(status.message, 256, result->message, sizeof(result->message));
}

plughost_status StartPipedFilter(plughost_session* s, uint32_t index, const ImageBlockHeader& head,
                                 const plughost_image* image);

plughost_status StartFilter(plughost_session* s, uint32_t index, const plughost_image* image,
                            plughost_result* result) {
  if (image == nullptr || image->pixels == nullptr || image->width == 0 || image->height == 0)
    return Fail(s, PLUGHOST_ERROR_ARGUMENT, "the image needs pixels and a width and height above 0");
  uint64_t pixelBytes = static_cast<uint64_t>(image->width) * image->height * 4;
  plughost_status status = NeedPlugin(s, index);
  if (status == PLUGHOST_OK) status = EnsureServer(s, true, result);
  if (status != PLUGHOST_OK) return status;
  ImageBlockHeader head{image->width, image->height, image->horizontal_dpi > 0 ? image->horizontal_dpi : 72.0,
                        image->vertical_dpi > 0 ? image->vertical_dpi : 72.0};
  s->filterRunning = s->fetchPending = false;
  s->jobShared = s->shared.block != nullptr && image->pixels == s->shared.block + IMAGE_HEADER_BYTES &&
                 pixelBytes + IMAGE_HEADER_BYTES <= s->shared.bytes;
  if (s->jobShared) {
    if (s->info.protocolVersion < 3)
      return Fail(s, PLUGHOST_ERROR_UNSUPPORTED, "the server takes no shared images (protocol %u)",
                  s->info.protocolVersion);
    memcpy(s->shared.block, &head, IMAGE_HEADER_BYTES);
    int64_t started = -1;
    if (!PlughostStartSharedFilter(&s->client, index, s->settingsMode, s->settings, s->settingsLength, &s->shared,
                                   &started))
      return Lost(s, "the filter");
    s->lastExchange = GetTickCount();
    if (started != ST_OK)
      return Fail(s, started > 0 && started < 64 ? static_cast<plughost_status>(started) : PLUGHOST_ERROR_BAD_REPLY,
                  "the server refused the filter (status %lld)", static_cast<long long>(started));
  } else {
    status = StartPipedFilter(s, index, head, image);
    if (status != PLUGHOST_OK) return status;
  }
  s->filterRunning = true;
  s->jobWidth = image->width;
  s->jobHeight = image->height;
  s->abortSent = false;
  return PLUGHOST_OK;
}

// The image in the request itself, after the settings when there are any.
plughost_status StartPipedFilter(plughost_session* s, uint32_t index, const ImageBlockHeader& head,
                                 const plughost_image* image) {
  const uint64_t pixelBytes = static_cast<uint64_t>(image->width) * image->height * 4;
  if (pixelBytes + IMAGE_HEADER_BYTES > UINT32_MAX)
    return Fail(s, PLUGHOST_ERROR_ARGUMENT, "a %u x %u image is too large for the pipe", image->width,
                image->height);
  // Settings go before the image, in the one payload the server takes.
  const bool extended = s->settingsMode != PLUGHOST_MODE_PLAIN || s->settingsLength != 0;
  const uint32_t prefix = extended ? PlughostStartExPrefixBytes(s->settingsLength) : 0;
  if (extended && (prefix == 0 || prefix + IMAGE_HEADER_BYTES + pixelBytes > UINT32_MAX))
    return Fail(s, PLUGHOST_ERROR_ARGUMENT, "the image and its settings are too large for the pipe");
  if (extended && !PlughostServes(s->info, REQ_FILTER_START_EX))
    return Fail(s, PLUGHOST_ERROR_UNSUPPORTED, "the server keeps no settings (protocol %u)", s->info.protocolVersion);
  // The server takes a payload in one piece: header and pixels together.
  uint32_t length = static_cast<uint32_t>(prefix + IMAGE_HEADER_BYTES + pixelBytes);
  auto* block = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, length));
  if (block == nullptr) return Fail(s, PLUGHOST_ERROR_NO_MEMORY, "no memory to send a %u-byte image", length);
  if (extended) PlughostWriteStartExPrefix(block, s->settingsMode, s->settings, s->settingsLength);
  memcpy(block + prefix, &head, IMAGE_HEADER_BYTES);
  memcpy(block + prefix + IMAGE_HEADER_BYTES, image->pixels, static_cast<size_t>(pixelBytes));
  plughost_status status =
      Request(s, extended ? REQ_FILTER_START_EX : REQ_FILTER_START, index, block, length, nullptr, "the filter");
  HeapFree(GetProcessHeap(), 0, block);
  return status;
}

// Passes a cancel on: the first asks the filter to stop, where the server
// can be asked; otherwise, or at a second cancel, the server is ended.
plughost_status PassCancel(plughost_session* s) {
  ResetEvent(s->cancelEvent);
  if (!s->abortSent && PlughostServes(s->info, REQ_FILTER_ABORT)) {
    s->abortSent = true;
    plughost_status status = Request(s, REQ_FILTER_ABORT, 0, nullptr, 0, nullptr, "the cancel");
    // The job may have ended meanwhile: the poll tells.
    return status == PLUGHOST_SERVER_BAD_INDEX ? PLUGHOST_OK : status;
  }
  Disconnect(s, false);
  if (s->abortSent) return Fail(s, PLUGHOST_CANCELLED, "cancelled twice; the filter did not stop, so the server was ended");
  return Fail(s, PLUGHOST_CANCELLED,
              "cancelled; the server cannot be asked to stop a filter, so it was ended (it starts again when needed)");
}

plughost_status PollFilter(plughost_session* s, plughost_job* job, plughost_result* result) {
  job->running = 0;
  job->progress = 0.0;
  if (!s->filterRunning) return Fail(s, PLUGHOST_ERROR_NO_JOB, "no filter is running: plughost_filter_start first");
  if (!s->connected) return Fail(s, PLUGHOST_ERROR_LOST, "the server ended during the filter");
  if (CancelAsked(s)) {
    plughost_status status = PassCancel(s);
    if (status != PLUGHOST_OK) return status;
  }
  JobStatusRecord status;
  memset(&status, 0, sizeof(status));
  PlughostReply reply;
  plughost_status st = Request(s, REQ_FILTER_POLL, 0, &status, sizeof(status), &reply, "during the filter");
  if (st != PLUGHOST_OK) return st;
  bool complete = reply.length >= sizeof(status);
  if (complete) memcpy(&status, reply.payload, sizeof(status));
  PlughostFreeReply(&reply);
  if (!complete) return Fail(s, PLUGHOST_ERROR_BAD_REPLY, "the server's poll reply was cut short");
  double progress = status.progress;
  job->progress = progress >= 0.0 && progress <= 1.0 ? progress : progress > 1.0 ? 1.0 : 0.0;
  if (status.state == JOB_RUNNING) {
    job->running = 1;
    return PLUGHOST_OK;
  }
  s->filterRunning = false;
  StatusToResult(status, result);
  if (status.state == JOB_DONE) {
    s->fetchPending = true;
    return PLUGHOST_OK;
  }
  char message[PLUGHOST_TEXT_BYTES];
  ToUtf8(status.message, 256, message, sizeof(message));
  if (status.state == JOB_CANCELLED)
    return Fail(s, PLUGHOST_CANCELLED, "cancelled%s%s", message[0] != 0 ? ": " : "", message);
  return Fail(s, PLUGHOST_FILTER_FAILED, "the filter failed (result code %d)%s%s",
              static_cast<int32_t>(status.resultCode), message[0] != 0 ? ": " : "", message);
}

plughost_status Fetch(plughost_session* s, plughost_image* image) {
  if (!s->fetchPending) return Fail(s, PLUGHOST_ERROR_NO_JOB, "no filter has finished with pixels to fetch");
  if (image == nullptr || image->pixels == nullptr || image->width != s->jobWidth || image->height != s->jobHeight)
    return Fail(s, PLUGHOST_ERROR_ARGUMENT, "fetch needs an image of the filtered size, %u x %u", s->jobWidth,
                s->jobHeight);
  s->fetchPending = false;
  PlughostReply reply;
  plughost_status status = Request(s, REQ_FETCH_IMAGE, 0, nullptr, 0, &reply, "the filtered image");
  if (status != PLUGHOST_OK) return status;
  // A shared image's pixels are in place already: the reply carries none.
  if (s->jobShared) {
    const bool empty = reply.length == 0;
    PlughostFreeReply(&reply);
    return empty ? PLUGHOST_OK : Fail(s, PLUGHOST_ERROR_BAD_REPLY, "the server sent pixels of a shared image back");
  }
  uint64_t pixelBytes = static_cast<uint64_t>(image->width) * image->height * 4;
  ImageBlockHeader head;
  memset(&head, 0, sizeof(head));
  if (reply.length >= IMAGE_HEADER_BYTES) memcpy(&head, reply.payload, sizeof(head));
  bool whole = reply.length >= IMAGE_HEADER_BYTES + pixelBytes && head.width == image->width &&
               head.height == image->height;
  if (whole) memcpy(image->pixels, reply.payload + IMAGE_HEADER_BYTES, static_cast<size_t>(pixelBytes));
  PlughostFreeReply(&reply);
  if (!whole) return Fail(s, PLUGHOST_ERROR_BAD_REPLY, "the server sent back an image of another size");
  return PLUGHOST_OK;
}

// ---- Keep-alive ----

// Asks the idle server a harmless question before it reaches its one-minute
// read limit, and notices when it has ended. Never waits for the lock: a
// session in a call is talking to its server anyway.
void KeepAlive(plughost_session* s) {
  if (!TryEnterCriticalSection(&s->lock)) return;
  DWORD interval = static_cast<DWORD>(s->keepaliveMs);
  if (!s->inCall && s->connected && interval != 0 && GetTickCount() - s->lastExchange >= interval) {
    bool alive = WaitForSingleObject(s->client.process, 0) == WAIT_TIMEOUT;
    if (alive && PlughostServes(s->info, REQ_SERVER_INFO)) {
      ServerInfoReply info;
      alive = PlughostServerInfo(&s->client, &info) != 0;
    } else if (alive) {
      // A server of protocol 1 takes its host settings again.
      PlughostReply reply;
      alive = PlughostRequest(&s->client, REQ_SET_HOST, 0, &s->host, sizeof(s->host), &reply) != 0;
      PlughostFreeReply(&reply);
    }
    if (alive) s->lastExchange = GetTickCount();
    else Disconnect(s, false);  // the next call starts a new one
  }
  LeaveCriticalSection(&s->lock);
}

DWORD WINAPI KeepAliveThread(void* parameter) {
  plughost_session* s = static_cast<plughost_session*>(parameter);
  HANDLE events[2] = {s->stopEvent, s->wakeEvent};
  for (;;) {
    DWORD interval = static_cast<DWORD>(s->keepaliveMs);
    DWORD r = WaitForMultipleObjects(2, events, FALSE, interval != 0 ? interval : INFINITE);
    if (r == WAIT_OBJECT_0) return 0;
    if (r == WAIT_TIMEOUT) KeepAlive(s);
  }
}

void DefaultServerPath(wchar_t* path, uint32_t units) {
  DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, units);
  if (n >= units) n = 0;
  while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/') --n;
  path[n] = 0;
#if defined(_WIN64)
  const wchar_t* name = L"plughost64.exe";
#else
  const wchar_t* name = L"plughost32.exe";
#endif
  if (n + wcslen(name) < units) wcscpy(path + n, name);
  else path[0] = 0;
}

}  // namespace

// ---- The library ----

uint32_t plughost_version(void) { return PLUGHOST_VERSION_NUMBER; }

const char* plughost_version_text(void) { return PLUGHOST_VERSION_TEXT; }

const char* plughost_status_text(plughost_status status) {
  for (const StatusRow& row : kStatusTexts)
    if (row.status == status) return row.text;
  return "an unknown status";
}

// ---- Sessions ----

plughost_session* plughost_session_create(void) {
  auto* s = static_cast<plughost_session*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(plughost_session)));
  if (s == nullptr) return nullptr;
  InitializeCriticalSection(&s->lock);
  s->keepaliveMs = kDefaultKeepaliveMs;
  s->cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  s->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  s->wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (s->cancelEvent == nullptr || s->stopEvent == nullptr || s->wakeEvent == nullptr) {
    plughost_session_destroy(s);
    return nullptr;
  }
  return s;
}

void plughost_session_destroy(plughost_session* s) {
  if (s == nullptr) return;
  if (s->keepaliveThread != nullptr) {
    SetEvent(s->stopEvent);
    WaitForSingleObject(s->keepaliveThread, INFINITE);
    CloseHandle(s->keepaliveThread);
  }
  Disconnect(s, true);
  PlughostCloseHiddenWindow(&s->hidden);
  if (s->entries != nullptr) HeapFree(GetProcessHeap(), 0, s->entries);
  if (s->settings != nullptr) HeapFree(GetProcessHeap(), 0, s->settings);
  PlughostFreeSharedImage(&s->shared);
  HANDLE events[3] = {s->cancelEvent, s->stopEvent, s->wakeEvent};
  for (HANDLE h : events)
    if (h != nullptr) CloseHandle(h);
  DeleteCriticalSection(&s->lock);
  HeapFree(GetProcessHeap(), 0, s);
}

plughost_status plughost_start(plughost_session* s, const char* server_path) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  if (s->connected && WaitForSingleObject(s->client.process, 0) == WAIT_TIMEOUT)
    return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT, "the session's server is running already"));
  wchar_t path[kPathUnits];
  if (server_path == nullptr) DefaultServerPath(path, kPathUnits);
  else if (!FromUtf8(server_path, path, kPathUnits))
    return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT, "the server path is empty, too long or not UTF-8"));
  bool again = s->serverPath[0] != 0;
  wcscpy(s->serverPath, path);
  plughost_status status = again ? EnsureServer(s, true, nullptr) : Launch(s);
  if (status != PLUGHOST_OK && !again) s->serverPath[0] = 0;
  if (status == PLUGHOST_OK && s->keepaliveThread == nullptr)
    s->keepaliveThread = CreateThread(nullptr, 0, KeepAliveThread, s, 0, nullptr);
  return Leave(s, status);
}

plughost_status plughost_set_host(plughost_session* s, uint64_t window, uint32_t foreground, uint32_t background) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
  if (window == 0 || !IsWindow(hwnd))
    return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT,
                         "the host needs a window: the server owns plug-in dialogs to it "
                         "(plughost_hidden_window makes one for an editor without windows)"));
  s->host = HostSettings{PlughostWireWindow(hwnd), foreground & 0xFFFFFFu, background & 0xFFFFFFu};
  s->hostSet = true;
  plughost_status status = PLUGHOST_OK;
  // Before plughost_start the settings wait for the server.
  if (s->serverPath[0] != 0) {
    plughost_result restart;
    ClearResult(&restart);
    status = EnsureServer(s, true, &restart);
    // A server just started has them already.
    if (status == PLUGHOST_OK && !restart.restarted)
      status = Request(s, REQ_SET_HOST, 0, &s->host, sizeof(s->host), nullptr, "the host settings");
  }
  return Leave(s, status);
}

plughost_status plughost_hidden_window(plughost_session* s, uint64_t* window) {
  if (s == nullptr || window == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  *window = 0;
  if (s->hidden.window == nullptr && !PlughostOpenHiddenWindow(&s->hidden)) {
    char why[256];
    SystemText(GetLastError(), why, sizeof(why));
    return Leave(s, Fail(s, PLUGHOST_ERROR_NO_MEMORY, "no hidden window could be made: %s", why));
  }
  *window = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(s->hidden.window));
  return Leave(s, PLUGHOST_OK);
}

// Copies the session's entries out.
static plughost_status CopyEntries(plughost_session* s, plughost_plugin* entries, uint32_t capacity,
                                   uint32_t* count) {
  *count = s->entryCount;
  uint32_t n = s->entryCount < capacity ? s->entryCount : capacity;
  if (n != 0) memcpy(entries, s->entries, static_cast<size_t>(n) * sizeof(plughost_plugin));
  if (n < s->entryCount)
    return Fail(s, PLUGHOST_ERROR_SMALL_BUFFER, "the scan found %u plug-ins; the array holds %u", s->entryCount,
                capacity);
  return PLUGHOST_OK;
}

plughost_status plughost_scan(plughost_session* s, const char* folder, plughost_plugin* entries, uint32_t capacity,
                              uint32_t* count, plughost_result* result) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  ClearResult(result);
  if (count == nullptr || (entries == nullptr && capacity != 0))
    return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT, "plughost_scan needs a count, and entries for a capacity"));
  *count = 0;
  wchar_t wide[kPathUnits];
  if (!FromUtf8(folder, wide, kPathUnits))
    return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT, "the folder is empty, too long or not UTF-8"));
  // The server scans from its own current folder; a relative path means ours.
  wchar_t full[kPathUnits];
  DWORD n = GetFullPathNameW(wide, kPathUnits, full, nullptr);
  if (n == 0 || n >= kPathUnits) return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT, "the folder path is too long"));
  plughost_status status = EnsureServer(s, false, result);
  if (status == PLUGHOST_OK) status = Scan(s, full, false);
  if (status == PLUGHOST_OK) status = CopyEntries(s, entries, capacity, count);
  return Leave(s, status);
}

plughost_status plughost_scan_entries(plughost_session* s, plughost_plugin* entries, uint32_t capacity,
                                      uint32_t* count) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  if (count == nullptr || (entries == nullptr && capacity != 0))
    return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT, "plughost_scan_entries needs a count, and entries for a capacity"));
  *count = 0;
  if (!s->scanned) return Leave(s, Fail(s, PLUGHOST_ERROR_NO_SCAN, "no scan yet: call plughost_scan first"));
  return Leave(s, CopyEntries(s, entries, capacity, count));
}

plughost_status plughost_about(plughost_session* s, uint32_t index, plughost_result* result) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  ClearResult(result);
  s->cancels = 0;
  ResetEvent(s->cancelEvent);
  plughost_status status = NeedPlugin(s, index);
  if (status == PLUGHOST_OK) status = EnsureServer(s, true, result);
  if (status == PLUGHOST_OK) status = Request(s, REQ_ABOUT_START, index, nullptr, 0, nullptr, "the About box");
  while (status == PLUGHOST_OK) {
    JobStatusRecord poll;
    memset(&poll, 0, sizeof(poll));
    PlughostReply reply;
    status = Request(s, REQ_ABOUT_POLL, 0, &poll, sizeof(poll), &reply, "while the About box was up");
    if (status != PLUGHOST_OK) break;
    bool running = reply.length >= sizeof(poll) && reply.payload[0] == JOB_RUNNING;
    PlughostFreeReply(&reply);
    if (!running) break;
    if (WaitForSingleObject(s->cancelEvent, kPollIntervalMs) == WAIT_OBJECT_0) {
      Disconnect(s, false);
      status = Fail(s, PLUGHOST_CANCELLED, "cancelled; an About box cannot be asked to close, so the server was "
                                           "ended (it starts again when needed)");
    }
  }
  return Leave(s, status);
}

plughost_status plughost_filter_start(plughost_session* s, uint32_t index, const plughost_image* image,
                                      plughost_result* result) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  ClearResult(result);
  s->cancels = 0;
  ResetEvent(s->cancelEvent);
  return Leave(s, StartFilter(s, index, image, result));
}

plughost_status plughost_filter_poll(plughost_session* s, plughost_job* job, plughost_result* result) {
  if (s == nullptr || job == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  // The result of a restart at the start is the editor's to keep.
  if (result != nullptr) {
    result->plugin_result = 0;
    result->message[0] = 0;
  }
  return Leave(s, PollFilter(s, job, result));
}

plughost_status plughost_fetch(plughost_session* s, plughost_image* image) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  return Leave(s, Fetch(s, image));
}

plughost_status plughost_filter(plughost_session* s, uint32_t index, plughost_image* image,
                                plughost_progress_fn progress, void* context, plughost_result* result) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  ClearResult(result);
  s->cancels = 0;
  ResetEvent(s->cancelEvent);
  plughost_status status = StartFilter(s, index, image, result);
  bool callbackCancelled = false;
  while (status == PLUGHOST_OK) {
    plughost_job job;
    status = PollFilter(s, &job, result);
    if (status != PLUGHOST_OK) break;
    if (progress != nullptr && progress(context, job.progress) != 0 && !callbackCancelled) {
      callbackCancelled = true;
      plughost_cancel(s);
    }
    if (!job.running) {
      status = Fetch(s, image);
      break;
    }
    // A cancel cuts the wait short.
    WaitForSingleObject(s->cancelEvent, kPollIntervalMs);
  }
  return Leave(s, status);
}

void plughost_cancel(plughost_session* s) {
  if (s == nullptr) return;
  ++s->cancels;
  SetEvent(s->cancelEvent);
}

// ---- Images in shared memory ----

plughost_status plughost_shared_image_create(plughost_session* s, uint32_t width, uint32_t height,
                                             plughost_image* image) {
  if (s == nullptr || image == nullptr || width == 0 || height == 0) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  if (s->filterRunning || s->fetchPending)
    return Leave(s, Fail(s, PLUGHOST_ERROR_ARGUMENT, "a filter still works on the shared image"));
  PlughostFreeSharedImage(&s->shared);
  memset(image, 0, sizeof(*image));
  if (!PlughostCreateSharedImage(&s->shared, width, height, 72.0, 72.0))
    return Leave(s, Fail(s, PLUGHOST_ERROR_NO_MEMORY, "no shared memory for a %u x %u image", width, height));
  image->width = width;
  image->height = height;
  image->horizontal_dpi = image->vertical_dpi = 72.0;
  image->pixels = s->shared.block + IMAGE_HEADER_BYTES;
  return Leave(s, PLUGHOST_OK);
}

void plughost_shared_image_free(plughost_session* s, plughost_image* image) {
  if (s == nullptr || !Enter(s)) return;
  if (image != nullptr && s->shared.block != nullptr && image->pixels == s->shared.block + IMAGE_HEADER_BYTES) {
    PlughostFreeSharedImage(&s->shared);
    memset(image, 0, sizeof(*image));
  }
  Leave(s, PLUGHOST_OK);
}

// ---- Recorded settings ----

plughost_status plughost_use_settings(plughost_session* s, uint32_t mode, const uint8_t* settings, uint32_t length) {
  if (s == nullptr || mode > PLUGHOST_MODE_SILENT || (settings == nullptr && length != 0))
    return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  uint8_t* copy = nullptr;
  if (length != 0) {
    copy = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, length));
    if (copy == nullptr) return Leave(s, Fail(s, PLUGHOST_ERROR_NO_MEMORY, "no memory for %u bytes of settings", length));
    memcpy(copy, settings, length);
  }
  if (s->settings != nullptr) HeapFree(GetProcessHeap(), 0, s->settings);
  s->settings = copy;
  s->settingsLength = length;
  s->settingsMode = mode;
  return Leave(s, PLUGHOST_OK);
}

plughost_status plughost_fetch_settings(plughost_session* s, uint8_t* buffer, uint32_t capacity, uint32_t* length) {
  if (s == nullptr || length == nullptr || (buffer == nullptr && capacity != 0)) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  *length = 0;
  plughost_status status = EnsureServer(s, true, nullptr);
  PlughostReply reply;
  if (status == PLUGHOST_OK) status = Request(s, REQ_FETCH_SETTINGS, 0, nullptr, 0, &reply, "the settings");
  if (status == PLUGHOST_SERVER_BAD_INDEX) return Leave(s, Fail(s, PLUGHOST_ERROR_NO_JOB, "no filter has ended yet"));
  if (status != PLUGHOST_OK) return Leave(s, status);
  *length = reply.length;
  const uint32_t copied = reply.length < capacity ? reply.length : capacity;
  if (copied != 0) memcpy(buffer, reply.payload, copied);
  PlughostFreeReply(&reply);
  if (*length > capacity)
    return Leave(s, Fail(s, PLUGHOST_ERROR_SMALL_BUFFER, "the settings hold %u bytes", *length));
  return Leave(s, PLUGHOST_OK);
}

// ---- The server ----

plughost_status plughost_query_server(plughost_session* s, plughost_server_info* info) {
  if (s == nullptr || info == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  if (!Enter(s)) return PLUGHOST_ERROR_BUSY;
  memset(info, 0, sizeof(*info));
  plughost_status status = EnsureServer(s, true, nullptr);
  if (status == PLUGHOST_OK) {
    info->protocol_version = s->info.protocolVersion;
    info->product_version = s->info.productVersion;
    info->served_kinds = s->info.servedKinds;
  }
  return Leave(s, status);
}

uint32_t plughost_server_process_id(plughost_session* s) {
  if (s == nullptr) return 0;
  EnterCriticalSection(&s->lock);
  uint32_t id = s->connected ? s->client.processId : 0;
  LeaveCriticalSection(&s->lock);
  return id;
}

uint32_t plughost_restart_count(plughost_session* s) {
  if (s == nullptr) return 0;
  EnterCriticalSection(&s->lock);
  uint32_t n = s->restarts;
  LeaveCriticalSection(&s->lock);
  return n;
}

void plughost_set_keepalive(plughost_session* s, uint32_t interval_ms) {
  if (s == nullptr) return;
  s->keepaliveMs = static_cast<LONG>(interval_ms);
  SetEvent(s->wakeEvent);
}

// ---- Errors ----

plughost_status plughost_last_error(plughost_session* s) {
  if (s == nullptr) return PLUGHOST_ERROR_ARGUMENT;
  EnterCriticalSection(&s->lock);
  plughost_status status = s->lastError;
  LeaveCriticalSection(&s->lock);
  return status;
}

const char* plughost_last_error_text(plughost_session* s) {
  if (s == nullptr) return "no session";
  if (s->lastError != PLUGHOST_OK && s->lastErrorText[0] == 0) return plughost_status_text(s->lastError);
  return s->lastErrorText;
}
