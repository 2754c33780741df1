#include "tests/support/server_session.h"

#include <windows.h>
#include <cstdio>
#include <cstring>

std::wstring BesideTest(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  PlughostProgramFolder(folder, MAX_PATH);
  return std::wstring(folder) + name;
}

std::wstring ServerExe() {
#if defined(_WIN64)
  return BesideTest(L"plughost64.exe");
#else
  return BesideTest(L"plughost32.exe");
#endif
}

ServerSession::ServerSession() {
  started = PlughostStart(&client, ServerExe().c_str()) != 0;
  if (started) return;
  // Said at once, for a rare failure to tell a server Wine ended before it
  // ran (status 1) from one that failed on its own.
  uint32_t code = ~0u;
  PlughostWaitExit(&client, 0, &code);
  fprintf(stderr, "ServerSession: the server did not connect; exit code 0x%08X (0xFFFFFFFF: still running)\n",
          static_cast<unsigned>(code));
}

ServerSession::~ServerSession() {
  if (client.process != nullptr) {
    PlughostClosePipe(&client);
    if (!PlughostWaitExit(&client, 10000, nullptr)) PlughostKill(&client);
  }
  PlughostClose(&client);
}

int64_t ServerSession::Request(uint32_t kind, int64_t argument, const void* payload, uint32_t length,
                               std::vector<uint8_t>* replyPayload, uint32_t* replyKind) {
  PlughostReply reply;
  if (!PlughostRequest(&client, kind, argument, payload, length, &reply)) return -1;
  if (replyPayload != nullptr) replyPayload->assign(reply.payload, reply.payload + reply.length);
  if (replyKind != nullptr) *replyKind = reply.header.kind;
  int64_t status = reply.header.argument;
  PlughostFreeReply(&reply);
  return status;
}

uint32_t ServerSession::Quit() {
  PlughostQuit(&client);
  uint32_t code = ~0u;
  if (!PlughostWaitExit(&client, 20000, &code)) return ~0u;
  return code;
}

uint32_t ServerSession::CloseAndWait() {
  PlughostClosePipe(&client);
  uint32_t code = ~0u;
  if (!PlughostWaitExit(&client, 20000, &code)) return ~0u;
  return code;
}

uint32_t RunServerWithCommandLine(const wchar_t* commandLine, uint32_t timeoutMs) {
  PlughostClient client;
  memset(&client, 0, sizeof(client));
  std::wstring exe = ServerExe();
  std::wstring line = L"\"" + exe + L"\"" + commandLine;
  STARTUPINFOW si;
  memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;  // as the client library starts it: no standard handles
  si.hStdInput = si.hStdOutput = si.hStdError = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
  CloseHandle(pi.hThread);
  DWORD code = ~0u;
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  else TerminateProcess(pi.hProcess, 99);
  CloseHandle(pi.hProcess);
  return code;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}
