#include "editor/plughost_client.h"

#include <windows.h>
#include <cstdio>
#include <cstring>
#include <cwchar>

static constexpr uint32_t kDefaultReplyTimeoutMs = 120000;
static constexpr uint32_t kConnectTimeoutMs = 30000;

int PlughostCreatePipe(PlughostClient* client, const wchar_t* name) {
  memset(client, 0, sizeof(*client));
  client->pipe = INVALID_HANDLE_VALUE;
  client->replyTimeoutMs = kDefaultReplyTimeoutMs;
  if (name != nullptr) {
    wcsncpy(client->pipeName, name, 63);
  } else {
    static volatile LONG counter = 0;
    _snwprintf(client->pipeName, 63, L"plughost-%lu-%lu-%ld", GetCurrentProcessId(), GetTickCount(),
               InterlockedIncrement(&counter));
  }
  wchar_t path[300];
  _snwprintf(path, 299, L"\\\\.\\pipe\\%ls", client->pipeName);
  path[299] = 0;
  client->pipe = CreateNamedPipeW(path, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1 << 16, 1 << 16, 0, nullptr);
  return client->pipe != INVALID_HANDLE_VALUE;
}

// Waits for an overlapped operation, giving up when the server has ended.
static bool Complete(PlughostClient* client, OVERLAPPED* ov, DWORD* count, uint32_t timeoutMs) {
  HANDLE waits[2] = {ov->hEvent, client->process};
  DWORD n = client->process != nullptr ? 2 : 1;
  DWORD start = GetTickCount();
  for (;;) {
    DWORD r = WaitForMultipleObjects(n, waits, FALSE, 50);
    if (r == WAIT_OBJECT_0) return GetOverlappedResult(client->pipe, ov, count, FALSE) != 0;
    if (r == WAIT_OBJECT_0 + 1) {
      // The server ended: take what arrived, if anything.
      if (WaitForSingleObject(ov->hEvent, 0) == WAIT_OBJECT_0)
        return GetOverlappedResult(client->pipe, ov, count, FALSE) != 0;
      break;
    }
    if (GetTickCount() - start > timeoutMs) break;
  }
  CancelIo(client->pipe);
  DWORD ignored = 0;
  GetOverlappedResult(client->pipe, ov, &ignored, TRUE);
  return false;
}

static bool Transfer(PlughostClient* client, void* buffer, uint32_t length, bool writing, uint32_t timeoutMs) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  // Writes go out in one call; reads gather until the whole length is there.
  while (done < length) {
    OVERLAPPED ov;
    memset(&ov, 0, sizeof(ov));
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) return false;
    DWORD count = 0;
    BOOL ok = writing ? WriteFile(client->pipe, p + done, length - done, &count, &ov)
                      : ReadFile(client->pipe, p + done, length - done, &count, &ov);
    bool completed = ok || (GetLastError() == ERROR_IO_PENDING && Complete(client, &ov, &count, timeoutMs));
    if (ok) GetOverlappedResult(client->pipe, &ov, &count, FALSE);
    CloseHandle(ov.hEvent);
    if (!completed || count == 0) return false;
    done += count;
  }
  return true;
}

int PlughostLaunch(PlughostClient* client, const wchar_t* serverExe, const wchar_t* commandLine) {
  wchar_t line[1024];
  _snwprintf(line, 1023, L"\"%ls\" %ls", serverExe, commandLine != nullptr ? commandLine : client->pipeName);
  line[1023] = 0;
  // The server writes nothing: it gets no standard handles, so it (and
  // anything it starts) holds none of ours open. Wine would otherwise hand it
  // the editor's own.
  STARTUPINFOW si;
  memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(serverExe, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0;
  CloseHandle(pi.hThread);
  client->process = pi.hProcess;
  client->processId = pi.dwProcessId;
  OVERLAPPED ov;
  memset(&ov, 0, sizeof(ov));
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  BOOL connected = ConnectNamedPipe(client->pipe, &ov);
  DWORD err = GetLastError();
  bool ok = false;
  if (connected || err == ERROR_PIPE_CONNECTED) {
    ok = true;
  } else if (err == ERROR_IO_PENDING) {
    DWORD ignored = 0;
    ok = Complete(client, &ov, &ignored, kConnectTimeoutMs);
  }
  CloseHandle(ov.hEvent);
  return ok ? 1 : 0;
}

int PlughostStart(PlughostClient* client, const wchar_t* serverExe) {
  if (!PlughostCreatePipe(client, nullptr)) return 0;
  return PlughostLaunch(client, serverExe, nullptr);
}

int PlughostSendRaw(PlughostClient* client, const void* bytes, uint32_t length) {
  return Transfer(client, const_cast<void*>(bytes), length, true, client->replyTimeoutMs) ? 1 : 0;
}

int PlughostSend(PlughostClient* client, uint32_t kind, int64_t argument, const void* payload, uint32_t length) {
  MessageHeader header;
  memset(&header, 0, sizeof(header));
  header.kind = kind;
  header.argument = argument;
  header.payloadLength = length;
  if (!PlughostSendRaw(client, &header, sizeof(header))) return 0;
  if (length != 0 && !PlughostSendRaw(client, payload, length)) return 0;
  return 1;
}

int PlughostReceiveInto(PlughostClient* client, PlughostReply* reply, void* head, uint32_t headLength, void* body,
                        uint32_t bodyLength) {
  memset(reply, 0, sizeof(*reply));
  if (!Transfer(client, &reply->header, sizeof(MessageHeader), false, client->replyTimeoutMs)) return 0;
  uint32_t length = reply->header.payloadLength;
  if (length == 0) return 1;
  if (static_cast<uint64_t>(headLength) + bodyLength == length) {
    reply->length = length;
    if (headLength != 0 && !Transfer(client, head, headLength, false, client->replyTimeoutMs)) return 0;
    return bodyLength == 0 || Transfer(client, body, bodyLength, false, client->replyTimeoutMs) ? 1 : 0;
  }
  reply->payload = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, length));
  if (reply->payload == nullptr) return 0;
  reply->length = length;
  if (!Transfer(client, reply->payload, length, false, client->replyTimeoutMs)) {
    PlughostFreeReply(reply);
    return 0;
  }
  return 1;
}

int PlughostReceive(PlughostClient* client, PlughostReply* reply) {
  return PlughostReceiveInto(client, reply, nullptr, 0, nullptr, 0);
}

int PlughostRequest(PlughostClient* client, uint32_t kind, int64_t argument, const void* payload, uint32_t length,
                    PlughostReply* reply) {
  if (!PlughostSend(client, kind, argument, payload, length)) return 0;
  return PlughostReceive(client, reply);
}

void PlughostFreeReply(PlughostReply* reply) {
  if (reply->payload != nullptr) HeapFree(GetProcessHeap(), 0, reply->payload);
  reply->payload = nullptr;
  reply->length = 0;
}

int PlughostCreateSharedImage(PlughostSharedImage* image, uint32_t width, uint32_t height, double horizontalResolution,
                              double verticalResolution) {
  memset(image, 0, sizeof(*image));
  const uint64_t bytes = IMAGE_HEADER_BYTES + static_cast<uint64_t>(width) * height * 4;
  if (width == 0 || height == 0 || bytes > static_cast<uint64_t>(SIZE_MAX)) return 0;
  image->section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
                                      static_cast<DWORD>(bytes), nullptr);
  if (image->section == nullptr) return 0;
  image->block = static_cast<uint8_t*>(MapViewOfFile(image->section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (image->block == nullptr) {
    PlughostFreeSharedImage(image);
    return 0;
  }
  image->bytes = bytes;
  ImageBlockHeader header{width, height, horizontalResolution, verticalResolution};
  memcpy(image->block, &header, sizeof(header));
  return 1;
}

void PlughostFreeSharedImage(PlughostSharedImage* image) {
  if (image->block != nullptr) UnmapViewOfFile(image->block);
  if (image->section != nullptr) CloseHandle(image->section);
  memset(image, 0, sizeof(*image));
}

// The extended start's kind and the fixed head of its payload.
static constexpr uint32_t kFilterStartExtended = 25;
struct ExtendedStartHead {
  uint32_t headBytes;  // 16
  uint32_t mode;
  uint32_t imageSource;
  uint32_t settingsLength;
};
static_assert(sizeof(ExtendedStartHead) == 16, "the head's size is its first field");

int PlughostStartSharedFilter(PlughostClient* client, int64_t index, uint32_t mode, const void* settings,
                              uint32_t settingsLength, const PlughostSharedImage* image, int64_t* status) {
  *status = -1;
  if (image->section == nullptr || client->process == nullptr) return 0;
  const uint64_t length = sizeof(ExtendedStartHead) + static_cast<uint64_t>(settingsLength) + sizeof(SharedImageRef);
  if (length > UINT32_MAX) return 0;
  uint8_t* payload = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(length)));
  if (payload == nullptr) return 0;
  // The server owns this handle from here on and closes it with the job.
  HANDLE remote = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), image->section, client->process, &remote, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    HeapFree(GetProcessHeap(), 0, payload);
    return 0;
  }
  ExtendedStartHead head{sizeof(ExtendedStartHead), mode, IMAGE_SOURCE_SHARED, settingsLength};
  SharedImageRef ref{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(remote)), 0};
  memcpy(payload, &head, sizeof(head));
  if (settingsLength != 0) memcpy(payload + sizeof(head), settings, settingsLength);
  memcpy(payload + sizeof(head) + settingsLength, &ref, sizeof(ref));
  PlughostReply reply;
  int ok = PlughostRequest(client, kFilterStartExtended, index, payload, static_cast<uint32_t>(length), &reply);
  HeapFree(GetProcessHeap(), 0, payload);
  if (!ok) return 0;
  *status = reply.header.argument;
  PlughostFreeReply(&reply);
  return 1;
}

int PlughostQuit(PlughostClient* client) { return PlughostSend(client, REQ_QUIT, 0, nullptr, 0); }

void PlughostClosePipe(PlughostClient* client) {
  if (client->pipe != INVALID_HANDLE_VALUE && client->pipe != nullptr) CloseHandle(client->pipe);
  client->pipe = INVALID_HANDLE_VALUE;
}

int PlughostWaitExit(PlughostClient* client, uint32_t timeoutMs, uint32_t* exitCode) {
  if (client->process == nullptr) return 0;
  if (WaitForSingleObject(client->process, timeoutMs) != WAIT_OBJECT_0) return 0;
  DWORD code = 0;
  GetExitCodeProcess(client->process, &code);
  if (exitCode != nullptr) *exitCode = code;
  return 1;
}

void PlughostKill(PlughostClient* client) {
  if (client->process != nullptr) TerminateProcess(client->process, 99);
}

void PlughostClose(PlughostClient* client) {
  PlughostClosePipe(client);
  if (client->process != nullptr) CloseHandle(client->process);
  client->process = nullptr;
}

void PlughostProgramFolder(wchar_t* folder, uint32_t capacity) {
  DWORD n = GetModuleFileNameW(nullptr, folder, capacity);
  while (n > 0 && folder[n - 1] != L'\\' && folder[n - 1] != L'/') --n;
  folder[n] = 0;
}
