#include <windows.h>

#include <cstring>

#include "editor/cli/file_win32.h"
#include "editor/cli/json_text.h"
#include "editor/cli/server_link.h"

static std::string LostText(ServerLink* link) {
  uint32_t code = 0;
  if (link->client.process != nullptr && PlughostWaitExit(&link->client, 5000, &code))
    return "the server ended unexpectedly (exit code " + std::to_string(code) + ")";
  return "the server stopped answering";
}

int StartServerLink(ServerLink* link, const std::wstring& exe, int bits, uint32_t hostWindow, std::string* error) {
  link->bits = bits;
  link->started = false;
  if (!FileExists(exe)) {
    *error = Utf16ToUtf8(exe.c_str()) + " is missing";
    return LINK_FAILED;
  }
  if (!PlughostCreatePipe(&link->client, nullptr)) {
    *error = "cannot create the pipe: " + SystemErrorText(GetLastError());
    return LINK_FAILED;
  }
  if (!PlughostLaunch(&link->client, exe.c_str(), nullptr)) {
    DWORD code = GetLastError();
    if (link->client.process == nullptr) {
      *error = Utf16ToUtf8(exe.c_str()) + " cannot start on this machine (" + SystemErrorText(code) + ")";
    } else {
      *error = Utf16ToUtf8(exe.c_str()) + " started but did not connect";
      PlughostKill(&link->client);
    }
    PlughostClose(&link->client);
    return LINK_FAILED;
  }
  link->started = true;
  // The server owns its plug-ins' dialogs and message boxes to this window.
  HostSettings settings{hostWindow, 0x00000000, 0x00FFFFFF};
  PlughostReply reply;
  if (!PlughostRequest(&link->client, REQ_SET_HOST, 0, &settings, sizeof(settings), &reply)) {
    *error = LostText(link);
    StopServerLink(link);
    return LINK_LOST;
  }
  int64_t status = reply.header.argument;
  PlughostFreeReply(&reply);
  if (status != ST_OK) {
    *error = "the server refused the host settings (status " + std::to_string(status) + ")";
    StopServerLink(link);
    return LINK_FAILED;
  }
  return LINK_OK;
}

void StopServerLink(ServerLink* link) {
  if (link->client.process == nullptr && link->client.pipe == nullptr) return;
  if (link->started) PlughostQuit(&link->client);
  PlughostClosePipe(&link->client);
  if (link->client.process != nullptr && !PlughostWaitExit(&link->client, 10000, nullptr)) PlughostKill(&link->client);
  PlughostClose(&link->client);
  link->started = false;
}

static std::wstring FieldText(const wchar_t* field, size_t units) {
  size_t n = 0;
  while (n < units && field[n] != 0) ++n;  // a field without terminator stops at its end
  return std::wstring(field, n);
}

int ScanWithServer(ServerLink* link, const std::wstring& folder, std::vector<ListedPlugin>* plugins,
                   std::string* error) {
  PlughostReply reply;
  // The path goes with its terminator.
  uint32_t bytes = static_cast<uint32_t>((folder.size() + 1) * sizeof(wchar_t));
  if (!PlughostRequest(&link->client, REQ_SCAN_FOLDER, 0, folder.c_str(), bytes, &reply)) {
    *error = LostText(link);
    return LINK_LOST;
  }
  int64_t status = reply.header.argument;
  int result = LINK_OK;
  if (status == ST_BAD_INDEX) {
    result = LINK_NO_PLUGINS;
  } else if (status == ST_BAD_FOLDER) {
    *error = "the server cannot read the folder";
    result = LINK_FAILED;
  } else if (status != ST_OK) {
    *error = "the scan failed (status " + std::to_string(status) + ")";
    result = LINK_FAILED;
  } else if (reply.length < sizeof(CatalogueReplyHeader)) {
    *error = "the server sent no catalogue (does it handle scans?)";
    result = LINK_FAILED;
  } else {
    CatalogueReplyHeader head;
    memcpy(&head, reply.payload, sizeof(head));
    // Trust only the records that actually arrived.
    uint64_t room = (reply.length - sizeof(head)) / sizeof(PluginEntry);
    uint64_t count = head.count < room ? head.count : room;
    for (uint64_t i = 0; i < count; ++i) {
      PluginEntry e;
      memcpy(&e, reply.payload + sizeof(head) + i * sizeof(PluginEntry), sizeof(e));
      ListedPlugin p;
      p.path = FieldText(e.path, 260);
      p.name = FieldText(e.name, 256);
      p.entryPoint = FieldText(e.entryPoint, 256);
      p.bits = link->bits;
      p.serverIndex = static_cast<int64_t>(i);
      plugins->push_back(p);
    }
    if (count == 0) result = LINK_NO_PLUGINS;
  }
  PlughostFreeReply(&reply);
  return result;
}

// One poll (for REQ_JOB_WAIT, `argument` is the wait); LINK_OK with *status
// filled, or LINK_LOST / LINK_FAILED.
static int Poll(ServerLink* link, uint32_t kind, JobStatusRecord* status, std::string* error, int64_t argument = 0) {
  JobStatusRecord request;
  memset(&request, 0, sizeof(request));
  PlughostReply reply;
  if (!PlughostRequest(&link->client, kind, argument, &request, sizeof(request), &reply)) {
    *error = LostText(link);
    return LINK_LOST;
  }
  int64_t code = reply.header.argument;
  bool complete = reply.length >= sizeof(JobStatusRecord);
  if (complete) memcpy(status, reply.payload, sizeof(*status));
  PlughostFreeReply(&reply);
  if (code != ST_OK || !complete) {
    *error = "the server lost track of the job (status " + std::to_string(code) + ")";
    return LINK_FAILED;
  }
  return LINK_OK;
}

static std::string StatusMessage(const JobStatusRecord& status) {
  wchar_t text[257];
  memcpy(text, status.message, sizeof(status.message));
  text[256] = 0;
  // The plug-in's own words, printed on the user's terminal.
  return Utf16ToUtf8(PrintableText(text).c_str());
}

int RunAboutJob(ServerLink* link, int64_t index, const CancelSignals& cancel, ProgressProc watch, void* context,
                std::string* message) {
  PlughostReply reply;
  if (!PlughostRequest(&link->client, REQ_ABOUT_START, index, nullptr, 0, &reply)) {
    *message = LostText(link);
    return LINK_LOST;
  }
  int64_t code = reply.header.argument;
  PlughostFreeReply(&reply);
  if (code != ST_OK) {
    *message = "the server did not start the About box (status " + std::to_string(code) + ")";
    return LINK_FAILED;
  }
  for (;;) {
    JobStatusRecord status;
    int r = Poll(link, REQ_ABOUT_POLL, &status, message);
    if (r != LINK_OK) return r;
    if (status.state != JOB_RUNNING) return LINK_OK;
    if (watch != nullptr) watch(context, 0.0);
    if (cancel.abortEvent != nullptr && WaitForSingleObject(cancel.abortEvent, POLL_INTERVAL_MS) == WAIT_OBJECT_0) {
      PlughostKill(&link->client);
      *message = "cancelled; the server was stopped to close the About box";
      return LINK_CANCELLED;
    }
    if (cancel.abortEvent == nullptr) Sleep(POLL_INTERVAL_MS);
  }
}

int CheckSettingsServed(ServerLink* link, std::string* error) {
  ServerInfoReply info;
  if (!PlughostServerInfo(&link->client, &info)) {
    *error = LostText(link);
    return LINK_LOST;
  }
  if (info.protocolVersion >= 2 && (info.servedKinds >> REQ_FETCH_SETTINGS & 1) != 0) return LINK_OK;
  *error = "this server does not keep plug-in settings (protocol " + std::to_string(info.protocolVersion) +
           "); it needs protocol 2";
  return LINK_FAILED;
}

int FetchRecordedSettings(ServerLink* link, RecordedSettings* settings, std::string* error) {
  PlughostReply reply;
  if (!PlughostFetchSettings(&link->client, &reply)) {
    *error = LostText(link);
    return LINK_LOST;
  }
  SettingsView view;
  int result = LINK_OK;
  if (reply.header.argument != ST_OK) {
    *error = "the server has no settings of the run (status " + std::to_string(reply.header.argument) + ")";
    result = LINK_FAILED;
  } else if (ParseSettingsBlock(reply.payload, reply.length, &view) != SETTINGS_OK) {
    *error = "the server sent settings that do not read";
    result = LINK_FAILED;
  } else {
    *settings = SettingsFromView(view);
  }
  PlughostFreeReply(&reply);
  return result;
}

int RunFilterJob(ServerLink* link, int64_t index, RasterImage* image, ProgressProc progress, void* context,
                 const CancelSignals& cancel, std::string* message, const StartSettings* start) {
  uint64_t pixelBytes = static_cast<uint64_t>(image->width) * image->height * 4;
  if (pixelBytes > MAX_IMAGE_PIXEL_BYTES || image->bgra.size() < pixelBytes) {
    *message = "the image is too large to send";
    return LINK_FAILED;
  }
  // A start with settings puts its header and settings before the image, in
  // the one payload.
  const uint32_t prefix = start != nullptr ? PlughostStartExPrefixBytes(static_cast<uint32_t>(start->block.size())) : 0;
  if (start != nullptr && (prefix == 0 || start->block.size() > UINT32_MAX ||
                           prefix + uint64_t{IMAGE_HEADER_BYTES} + pixelBytes > UINT32_MAX)) {
    *message = "the image and its settings are too large to send";
    return LINK_FAILED;
  }
  // The server takes each payload piece from one write: the request goes as
  // one block. The pixels come back straight into the image.
  std::vector<uint8_t> block;
  try {
    block.resize(prefix + IMAGE_HEADER_BYTES + static_cast<size_t>(pixelBytes));
  } catch (...) {
    *message = "out of memory for the image";
    return LINK_FAILED;
  }
  if (start != nullptr)
    PlughostWriteStartExPrefix(block.data(), start->mode, start->block.data(),
                               static_cast<uint32_t>(start->block.size()));
  // The filter is told the file's resolution (72 dpi where it gives none).
  ImageBlockHeader head{image->width, image->height, DEFAULT_DPI, DEFAULT_DPI};
  ResolutionDpi(image->metadata.resolution, &head.horizontalResolution, &head.verticalResolution);
  memcpy(block.data() + prefix, &head, sizeof(head));
  memcpy(block.data() + prefix + IMAGE_HEADER_BYTES, image->bgra.data(), static_cast<size_t>(pixelBytes));
  const uint32_t bodyBytes = static_cast<uint32_t>(pixelBytes);
  PlughostReply reply;
  if (!PlughostRequest(&link->client, start != nullptr ? REQ_FILTER_START_EX : REQ_FILTER_START, index, block.data(),
                       static_cast<uint32_t>(block.size()), &reply)) {
    *message = LostText(link);
    return LINK_LOST;
  }
  int64_t code = reply.header.argument;
  PlughostFreeReply(&reply);
  std::vector<uint8_t>().swap(block);
  if (code != ST_OK) {
    *message = "the server did not start the filter (status " + std::to_string(code) + ")";
    return LINK_FAILED;
  }

  bool abortSent = false;
  JobStatusRecord status;
  for (;;) {
    // A cancel that came before the job started is passed on before the first poll.
    if (!abortSent && cancel.abortEvent != nullptr && WaitForSingleObject(cancel.abortEvent, 0) == WAIT_OBJECT_0) {
      abortSent = true;
      if (!PlughostRequest(&link->client, REQ_FILTER_ABORT, 0, nullptr, 0, &reply)) {
        *message = LostText(link);
        return LINK_LOST;
      }
      PlughostFreeReply(&reply);
    }
    // The server answers at the job's end or a per cent of progress, and
    // within the interval otherwise, so a cancel is passed on promptly.
    int r = Poll(link, REQ_JOB_WAIT, &status, message, POLL_INTERVAL_MS);
    if (r != LINK_OK) return r;
    if (progress != nullptr) progress(context, status.progress);
    if (status.state != JOB_RUNNING) break;
    if (abortSent && cancel.forceEvent != nullptr && WaitForSingleObject(cancel.forceEvent, 0) == WAIT_OBJECT_0) {
      // Asked twice: stop waiting for a plug-in that does not listen.
      PlughostKill(&link->client);
      *message = "cancelled; the server was stopped";
      return LINK_CANCELLED;
    }
  }
  *message = StatusMessage(status);
  // The held image is released only by a fetch; take it back whatever the
  // outcome, into the image: a failed job's pixels come back as they were sent.
  PlughostReply fetched;
  ImageBlockHeader back{};
  bool gotImage = PlughostSend(&link->client, REQ_FETCH_IMAGE, 0, nullptr, 0) &&
                  PlughostReceiveInto(&link->client, &fetched, &back, sizeof(back), image->bgra.data(), bodyBytes);
  if (status.state == JOB_CANCELLED) {
    if (gotImage) PlughostFreeReply(&fetched);
    if (message->empty()) *message = "cancelled";
    return LINK_CANCELLED;
  }
  if (status.state != JOB_DONE) {
    if (gotImage) PlughostFreeReply(&fetched);
    if (message->empty()) *message = "the filter failed";
    *message += " (result code " + std::to_string(static_cast<int32_t>(status.resultCode)) + ")";
    return LINK_FAILED;
  }
  if (!gotImage) {
    *message = LostText(link);
    return LINK_LOST;
  }
  int result = LINK_OK;
  // A payload of the expected length landed in place; any other was kept aside.
  if (fetched.header.argument != ST_OK || fetched.payload != nullptr || fetched.length == 0) {
    *message = "the server sent back no image (status " + std::to_string(fetched.header.argument) + ")";
    result = LINK_FAILED;
  } else if (back.width != image->width || back.height != image->height) {
    *message = "the server sent back an image of another size";
    result = LINK_FAILED;
  }
  PlughostFreeReply(&fetched);
  return result;
}
