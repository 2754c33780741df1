// A stand-in for the server that answers the tool's requests from a script
// chosen by the test (environment PLUGHOST_FAKE_MODE), so the tool's handling
// of catalogues, progress, failures, cancels and a server that dies can be
// tested without plug-ins. It speaks the real wire records.
//   ok      filters invert red, green and blue; progress 1/3, 2/3, done
//   fail    the filter ends failed with result code 1 and a message
//   cancel  the job runs until REQ_FILTER_ABORT, then ends cancelled (13);
//           an About box stays open
//   die     the process exits on the first filter poll
//   empty   the scan finds no plug-ins
//   overcount  the catalogue claims 50 entries but carries 2
//   short   the fetched image is cut short
//   aboutbox   the About job disables the host window while it runs, as a
//              modal box owned by it does
// PLUGHOST_FAKE_LOG names a file that gets one line per start and request;
// PLUGHOST_FAKE_RUNNING names an event set once a job has polled as running.
// With PLUGHOST_FAKE_ASKED set, it answers REQ_SERVER_INFO as a server of
// protocol 2 that serves what it knows, and sets the event of that name at
// every such request; without, it answers as a server of protocol 1 does.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "wire/protocol.h"

static HANDLE gPipe = INVALID_HANDLE_VALUE;
static char gMode[32] = "ok";
static wchar_t gLog[MAX_PATH] = L"";

static void Log(const char* text) {
  if (gLog[0] == 0) return;
  HANDLE f = CreateFileW(gLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD n = 0;
  WriteFile(f, text, static_cast<DWORD>(strlen(text)), &n, nullptr);
  WriteFile(f, "\n", 1, &n, nullptr);
  CloseHandle(f);
}

static bool ReadAll(void* buffer, uint32_t length) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    DWORD got = 0;
    if (!ReadFile(gPipe, p, length, &got, nullptr) || got == 0) return false;
    p += got;
    length -= got;
  }
  return true;
}

static bool Reply(uint32_t kind, int64_t status, const void* payload, uint32_t length) {
  MessageHeader h;
  memset(&h, 0, sizeof(h));
  h.kind = kind | REPLY_FLAG;
  h.argument = status;
  h.payloadLength = length;
  DWORD n = 0;
  if (!WriteFile(gPipe, &h, sizeof(h), &n, nullptr)) return false;
  return length == 0 || WriteFile(gPipe, payload, length, &n, nullptr);
}

static void SetEntry(PluginEntry* e, const std::wstring& path, const wchar_t* name, const wchar_t* entry) {
  memset(e, 0, sizeof(*e));
  wcsncpy(e->path, path.c_str(), 259);
  wcsncpy(e->name, name, 255);
  wcsncpy(e->entryPoint, entry, 255);
}

static void SignalEvent(const wchar_t* variable) {
  wchar_t name[128];
  if (GetEnvironmentVariableW(variable, name, 128) == 0) return;
  HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
  if (e != nullptr) {
    SetEvent(e);
    CloseHandle(e);
  }
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 37;
  GetEnvironmentVariableA("PLUGHOST_FAKE_MODE", gMode, sizeof(gMode));
  GetEnvironmentVariableW(L"PLUGHOST_FAKE_LOG", gLog, MAX_PATH);
  std::wstring path = std::wstring(L"\\\\.\\pipe\\") + argv[1];
  gPipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (gPipe == INVALID_HANDLE_VALUE) return 37;
  char line[64];
  snprintf(line, sizeof(line), "start %lu", GetCurrentProcessId());
  Log(line);

  std::vector<uint8_t> image;
  HWND host = nullptr;
  int polls = 0;
  bool abortAsked = false;
  double lastProgress = -1;
  for (;;) {
    MessageHeader h;
    if (!ReadAll(&h, sizeof(h))) break;
    std::vector<uint8_t> payload(h.payloadLength);
    if (h.payloadLength != 0 && !ReadAll(payload.data(), h.payloadLength)) break;
    snprintf(line, sizeof(line), "request %u", h.kind);
    Log(line);
    JobStatusRecord status;
    memset(&status, 0, sizeof(status));
    switch (h.kind) {
      case REQ_QUIT:
        CloseHandle(gPipe);
        return 0;
      case REQ_SCAN_FOLDER: {
        if (strcmp(gMode, "empty") == 0) {
          Reply(h.kind, ST_BAD_INDEX, nullptr, 0);
          break;
        }
        std::wstring folder(reinterpret_cast<const wchar_t*>(payload.data()), payload.size() / 2);
        folder = folder.c_str();
        std::vector<uint8_t> reply(sizeof(CatalogueReplyHeader) + 2 * sizeof(PluginEntry));
        uint32_t claimed = strcmp(gMode, "overcount") == 0 ? 50 : 2;
        CatalogueReplyHeader head{claimed, CATALOGUE_BUILD_FLAG, {0, 0, 0}};
        memcpy(reply.data(), &head, sizeof(head));
        auto* entries = reinterpret_cast<PluginEntry*>(reply.data() + sizeof(head));
        SetEntry(&entries[0], folder + L"\\Invert.8bf", L"Invert", L"PluginMain");
        SetEntry(&entries[1], folder + L"\\Odd.8bf", L"Tab\there \"quoted\" \u00dcber\\", L"#1");
        Reply(h.kind, ST_OK, reply.data(), static_cast<uint32_t>(reply.size()));
        break;
      }
      case REQ_SET_HOST: {
        HostSettings settings{};
        if (payload.size() >= sizeof(settings)) memcpy(&settings, payload.data(), sizeof(settings));
        host = reinterpret_cast<HWND>(static_cast<uintptr_t>(settings.hostWindow));
        Reply(h.kind, ST_OK, nullptr, 0);
        break;
      }
      case REQ_ABOUT_START:
        polls = 0;
        if (strcmp(gMode, "aboutbox") == 0) EnableWindow(host, FALSE);
        Reply(h.kind, ST_OK, nullptr, 0);
        break;
      case REQ_ABOUT_POLL:
        // In cancel mode the box stays open.
        status.state = ++polls < 2 || strcmp(gMode, "cancel") == 0 ? JOB_RUNNING : JOB_DONE;
        if (status.state == JOB_DONE && strcmp(gMode, "aboutbox") == 0) EnableWindow(host, TRUE);
        Reply(h.kind, ST_OK, &status, sizeof(status));
        if (status.state == JOB_RUNNING) SignalEvent(L"PLUGHOST_FAKE_RUNNING");
        break;
      case REQ_FILTER_START:
        image = payload;
        polls = 0;
        lastProgress = -1;
        abortAsked = false;
        Reply(h.kind, ST_OK, nullptr, 0);
        break;
      case REQ_FILTER_ABORT:
        abortAsked = true;
        Reply(h.kind, ST_OK, nullptr, 0);
        break;
      case REQ_JOB_WAIT:
      case REQ_FILTER_POLL: {
        ++polls;
        if (strcmp(gMode, "die") == 0) ExitProcess(7);
        if (strcmp(gMode, "cancel") == 0) {
          if (abortAsked) {
            status.state = JOB_CANCELLED;
            status.resultCode = 13;
            wcscpy(status.message, L"The user cancelled");
          } else {
            status.state = JOB_RUNNING;
            status.progress = 0.5;
          }
        } else if (polls < 3) {
          status.state = JOB_RUNNING;
          status.progress = polls / 3.0;
        } else if (strcmp(gMode, "fail") == 0) {
          status.state = JOB_FAILED;
          status.resultCode = 1;
          wcscpy(status.message, L"Cannot get entry-point");
        } else {
          status.state = JOB_DONE;
          status.progress = 1.0;
          for (size_t i = IMAGE_HEADER_BYTES; i + 3 < image.size(); i += 4)
            for (int c = 0; c < 3; ++c) image[i + c] = static_cast<uint8_t>(255 - image[i + c]);
        }
        // A wait without news runs out, as the server's does.
        if (h.kind == REQ_JOB_WAIT && status.state == JOB_RUNNING && status.progress == lastProgress)
          Sleep(static_cast<DWORD>(h.argument < 0 ? 0 : h.argument > JOB_WAIT_LIMIT_MS ? JOB_WAIT_LIMIT_MS : h.argument));
        lastProgress = status.progress;
        Reply(h.kind, ST_OK, &status, sizeof(status));
        if (status.state == JOB_RUNNING) SignalEvent(L"PLUGHOST_FAKE_RUNNING");
        break;
      }
      case REQ_SERVER_INFO: {
        if (GetEnvironmentVariableW(L"PLUGHOST_FAKE_ASKED", nullptr, 0) == 0) {
          Reply(h.kind, ST_OK, nullptr, 0);
          break;
        }
        ServerInfoReply info{2, 0x010000, (1ull << REQ_QUIT) | (0xFFull << REQ_SCAN_FOLDER) | (1ull << REQ_SERVER_INFO)};
        Reply(h.kind, ST_OK, &info, sizeof(info));
        SignalEvent(L"PLUGHOST_FAKE_ASKED");
        break;
      }
      case REQ_FETCH_IMAGE:
        if (image.empty()) {
          Reply(h.kind, ST_NO_IMAGE, nullptr, 0);
        } else {
          uint32_t length = static_cast<uint32_t>(image.size());
          if (strcmp(gMode, "short") == 0) length -= 4;
          Reply(h.kind, ST_OK, image.data(), length);
          image.clear();
        }
        break;
      default:
        Reply(h.kind, ST_OK, nullptr, 0);
    }
  }
  CloseHandle(gPipe);
  return 0;
}
