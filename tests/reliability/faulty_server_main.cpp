// The server with its test hooks: PLUGHOST_FAIL_ALLOCATION=N makes the N-th
// global-memory allocation fail, and PLUGHOST_LEAK_REPORT names a file that
// receives the number of blocks still allocated when the server has shut down.
// Only the allocation-failure tests run this program; the shipped server takes
// no configuration but its command line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "server/memory.h"
#include "server/process_entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  char text[64];
  if (GetEnvironmentVariableA("PLUGHOST_FAIL_ALLOCATION", text, sizeof(text)) > 0)
    SetAllocationFailureAt(strtoull(text, nullptr, 10));
  int code = RunProcess(commandLine);
  char path[MAX_PATH];
  if (GetEnvironmentVariableA("PLUGHOST_LEAK_REPORT", path, MAX_PATH) > 0) {
    FILE* f = fopen(path, "w");
    if (f != nullptr) {
      fprintf(f, "%lld %llu\n", static_cast<long long>(OutstandingBlocks()),
              static_cast<unsigned long long>(AllocationCount()));
      fclose(f);
    }
  }
  ExitProcess(static_cast<UINT>(code));
}
