#include "editor/plughost_client.h"

#include <windows.h>
#include <bcrypt.h>
#include <cstdio>
#include <cstring>
#include <cwchar>

static constexpr uint32_t kDefaultReplyTimeoutMs = 120000;
static constexpr uint32_t kConnectTimeoutMs = 30000;

// A pipe name no other process can guess: our process id, for a person
// reading a list of pipes, and 128 random bits.
static bool RandomPipeName(wchar_t* name, size_t capacity) {
  uint8_t bits[16];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bits, sizeof(bits), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
  int n = _snwprintf(name, capacity - 1, L"plughost-%lu-", GetCurrentProcessId());
  if (n < 0 || static_cast<size_t>(n) + 2 * sizeof(bits) >= capacity) return false;
  for (uint8_t b : bits) {
    name[n++] = L"0123456789abcdef"[b >> 4];
    name[n++] = L"0123456789abcdef"[b & 15];
  }
  name[n] = 0;
  return true;
}

// A security descriptor whose access list lets in our own user only: the
// server runs as that user, nobody else has business on the pipe.
struct OwnerOnly {
  SECURITY_ATTRIBUTES attributes;
  SECURITY_DESCRIPTOR descriptor;
  DWORD acl[64];  // DWORD-aligned, as an access list must be
  union {
    TOKEN_USER token;  // aligned as the record needs, with room for its SID
    uint8_t bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
};

static bool MakeOwnerOnly(OwnerOnly* s) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  BOOL read = GetTokenInformation(token, TokenUser, &s->user, sizeof(s->user), &size);
  CloseHandle(token);
  if (!read) return false;
  PSID sid = s->user.token.User.Sid;
  PACL acl = reinterpret_cast<PACL>(s->acl);
  if (!InitializeAcl(acl, sizeof(s->acl), ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_WRITE, sid) ||
      !InitializeSecurityDescriptor(&s->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&s->descriptor, TRUE, acl, FALSE))
    return false;
  s->attributes.nLength = sizeof(s->attributes);
  s->attributes.lpSecurityDescriptor = &s->descriptor;
  s->attributes.bInheritHandle = FALSE;
  return true;
}

int PlughostCreatePipe(PlughostClient* client, const wchar_t* name) {
  memset(client, 0, sizeof(*client));
  client->pipe = INVALID_HANDLE_VALUE;
  client->replyTimeoutMs = kDefaultReplyTimeoutMs;
  if (name != nullptr) {
    wcsncpy(client->pipeName, name, 63);
  } else if (!RandomPipeName(client->pipeName, 64)) {
    return 0;
  }
  OwnerOnly security;
  if (!MakeOwnerOnly(&security)) return 0;
  wchar_t path[300];
  _snwprintf(path, 299, L"\\\\.\\pipe\\%ls", client->pipeName);
  path[299] = 0;
  // The first instance or nothing: a pipe of this name that someone else made
  // before us is theirs, and our server must never talk to it.
  client->pipe = CreateNamedPipeW(path, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                  1 << 16, 1 << 16, 0, &security.attributes);
  if (client->pipe == INVALID_HANDLE_VALUE) return 0;
  // Wine ignores that flag and adds an instance to the squatter's pipe; ours
  // must then be the only one.
  DWORD instances = 0;
  if (!GetNamedPipeHandleStateW(client->pipe, nullptr, &instances, nullptr, nullptr, nullptr, 0) || instances != 1) {
    PlughostClosePipe(client);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return 1;
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
  // In pieces of PIPE_PIECE_BYTES each way; reads gather until the whole
  // length is there.
  while (done < length) {
    const uint32_t piece = length - done < PIPE_PIECE_BYTES ? length - done : PIPE_PIECE_BYTES;
    // One event for every transfer: the read or write resets it.
    if (client->event == nullptr) client->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (client->event == nullptr) return false;
    OVERLAPPED ov;
    memset(&ov, 0, sizeof(ov));
    ov.hEvent = client->event;
    DWORD count = 0;
    BOOL ok = writing ? WriteFile(client->pipe, p + done, piece, &count, &ov)
                      : ReadFile(client->pipe, p + done, piece, &count, &ov);
    bool completed = ok || (GetLastError() == ERROR_IO_PENDING && Complete(client, &ov, &count, timeoutMs));
    if (ok) GetOverlappedResult(client->pipe, &ov, &count, FALSE);
    if (!completed || count == 0) return false;
    done += count;
  }
  return true;
}

// Waits until a client has connected to our end, or the server has ended.
static bool AwaitClient(PlughostClient* client, uint32_t timeoutMs) {
  OVERLAPPED ov;
  memset(&ov, 0, sizeof(ov));
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) return false;
  BOOL connected = ConnectNamedPipe(client->pipe, &ov);
  DWORD err = GetLastError();
  bool ok = false;
  if (connected || err == ERROR_PIPE_CONNECTED) {
    ok = true;
  } else if (err == ERROR_IO_PENDING) {
    DWORD ignored = 0;
    ok = Complete(client, &ov, &ignored, timeoutMs);
  }
  CloseHandle(ov.hEvent);
  return ok;
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
  // Whoever connects first is let through only if it is the process we just
  // started; anyone else is cut off unheard and we wait on for ours, which
  // retries a busy pipe.
  DWORD start = GetTickCount();
  for (;;) {
    DWORD spent = GetTickCount() - start;
    if (spent >= kConnectTimeoutMs || !AwaitClient(client, kConnectTimeoutMs - spent)) return 0;
    ULONG clientId = 0;
    if (GetNamedPipeClientProcessId(client->pipe, &clientId) && clientId == client->processId) return 1;
    DisconnectNamedPipe(client->pipe);
  }
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

int PlughostServerInfo(PlughostClient* client, ServerInfoReply* info) {
  PlughostReply reply;
  if (!PlughostRequest(client, REQ_SERVER_INFO, 0, nullptr, 0, &reply)) return 0;
  bool ok = reply.header.kind == (REQ_SERVER_INFO | REPLY_FLAG) && reply.header.argument == ST_OK;
  if (ok && reply.length == 0) {
    info->protocolVersion = 1;
    info->productVersion = 0;
    info->servedKinds = PLUGHOST_PROTOCOL1_KINDS;
  } else if (ok && reply.length >= sizeof(*info)) {
    memcpy(info, reply.payload, sizeof(*info));
  } else {
    ok = false;
  }
  PlughostFreeReply(&reply);
  return ok ? 1 : 0;
}

uint32_t PlughostStartExPrefixBytes(uint32_t settingsLength) {
  return settingsLength > UINT32_MAX - sizeof(FilterStartExHeader)
             ? 0
             : static_cast<uint32_t>(sizeof(FilterStartExHeader) + settingsLength);
}

void PlughostWriteStartExPrefix(void* payload, uint32_t mode, const void* settings, uint32_t settingsLength) {
  const FilterStartExHeader header{START_EX_HEADER_BYTES, mode, IMAGE_SOURCE_INLINE, settingsLength};
  memcpy(payload, &header, sizeof(header));
  if (settingsLength != 0) memcpy(static_cast<uint8_t*>(payload) + sizeof(header), settings, settingsLength);
}

int PlughostFilterStartEx(PlughostClient* client, int64_t index, uint32_t mode, const void* settings,
                          uint32_t settingsLength, const void* image, uint32_t imageLength, int64_t* status) {
  const uint32_t prefix = PlughostStartExPrefixBytes(settingsLength);
  if (prefix == 0 || imageLength > UINT32_MAX - prefix) return 0;
  uint8_t* payload = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, prefix + imageLength));
  if (payload == nullptr) return 0;
  PlughostWriteStartExPrefix(payload, mode, settings, settingsLength);
  if (imageLength != 0) memcpy(payload + prefix, image, imageLength);
  PlughostReply reply;
  const int sent = PlughostRequest(client, REQ_FILTER_START_EX, index, payload, prefix + imageLength, &reply);
  HeapFree(GetProcessHeap(), 0, payload);
  if (!sent) return 0;
  *status = reply.header.argument;
  PlughostFreeReply(&reply);
  return 1;
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

int PlughostStartSharedFilter(PlughostClient* client, int64_t index, uint32_t mode, const void* settings,
                              uint32_t settingsLength, const PlughostSharedImage* image, int64_t* status) {
  *status = -1;
  if (image->section == nullptr || client->process == nullptr) return 0;
  const uint64_t length = sizeof(FilterStartExHeader) + static_cast<uint64_t>(settingsLength) + sizeof(SharedImageRef);
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
  FilterStartExHeader head{START_EX_HEADER_BYTES, mode, IMAGE_SOURCE_SHARED, settingsLength};
  SharedImageRef ref{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(remote)), 0};
  memcpy(payload, &head, sizeof(head));
  if (settingsLength != 0) memcpy(payload + sizeof(head), settings, settingsLength);
  memcpy(payload + sizeof(head) + settingsLength, &ref, sizeof(ref));
  PlughostReply reply;
  int ok = PlughostRequest(client, REQ_FILTER_START_EX, index, payload, static_cast<uint32_t>(length), &reply);
  HeapFree(GetProcessHeap(), 0, payload);
  if (!ok) return 0;
  *status = reply.header.argument;
  PlughostFreeReply(&reply);
  return 1;
}

int PlughostFetchSettings(PlughostClient* client, PlughostReply* reply) {
  return PlughostRequest(client, REQ_FETCH_SETTINGS, 0, nullptr, 0, reply);
}

int PlughostQuit(PlughostClient* client) { return PlughostSend(client, REQ_QUIT, 0, nullptr, 0); }

void PlughostClosePipe(PlughostClient* client) {
  if (client->pipe != INVALID_HANDLE_VALUE && client->pipe != nullptr) CloseHandle(client->pipe);
  client->pipe = INVALID_HANDLE_VALUE;
  if (client->event != nullptr) CloseHandle(client->event);
  client->event = nullptr;
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
