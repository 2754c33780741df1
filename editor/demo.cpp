// A first conversation with the server: start it on a fresh pipe, hand over
// host settings, an unknown request, quit, and report what happened.
#include <windows.h>

#include <cstdio>

#include "editor/plughost_client.h"

int main() {
  wchar_t folder[MAX_PATH];
  PlughostProgramFolder(folder, MAX_PATH);
  wchar_t server[MAX_PATH];
#if defined(_WIN64)
  _snwprintf(server, MAX_PATH, L"%lsplughost64.exe", folder);
#else
  _snwprintf(server, MAX_PATH, L"%lsplughost32.exe", folder);
#endif
  PlughostClient client;
  if (!PlughostStart(&client, server)) {
    fprintf(stderr, "demo: the server did not start or did not connect\n");
    return 1;
  }
  printf("server started (process %lu) on pipe \\\\.\\pipe\\%ls\n", static_cast<unsigned long>(client.processId),
         client.pipeName);
  HostSettings settings{0x10010, 0x00FF8000, 0x00336699};
  PlughostReply reply;
  if (PlughostRequest(&client, REQ_SET_HOST, 0, &settings, sizeof(settings), &reply))
    printf("REQ_SET_HOST -> kind 0x%08x, status %lld\n", reply.header.kind, static_cast<long long>(reply.header.argument));
  PlughostFreeReply(&reply);
  if (PlughostRequest(&client, 5, 0, "hello", 5, &reply))
    printf("unknown kind 5 -> kind 0x%08x, status %lld, %u payload bytes\n", reply.header.kind,
           static_cast<long long>(reply.header.argument), reply.header.payloadLength);
  PlughostFreeReply(&reply);
  PlughostQuit(&client);
  uint32_t code = 0;
  if (PlughostWaitExit(&client, 20000, &code)) printf("REQ_QUIT -> no reply; server exited with %u\n", code);
  else printf("the server did not exit\n");
  PlughostClose(&client);
  return code == 0 ? 0 : 1;
}
