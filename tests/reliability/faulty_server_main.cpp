// The server with its test hooks: PLUGHOST_FAIL_ALLOCATION=N makes the N-th
// global-memory allocation fail, and PLUGHOST_LEAK_REPORT names a file that
// receives the number of blocks still allocated when the server has shut down
// (-2 when a job was still running at the loop's end and kept its memory).
// Only the allocation-failure tests run this program; the shipped server takes
// no configuration but its command line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/memory.h"
#include "server/process_entry.h"
#include "server/request_loop.h"

static FILE* gTrace = nullptr;

// PLUGHOST_ALLOC_TRACE names a file that lists every allocation (number,
// kind, size, caller's address), for finding a failing site with addr2line and
// for tests that bound what a request may cost.
static void Trace(uint64_t number, AllocationKind kind, uint64_t size, void* caller) {
  if (gTrace != nullptr) fprintf(gTrace, "%llu %u %llu %p\n", static_cast<unsigned long long>(number),
                                 static_cast<unsigned>(kind), static_cast<unsigned long long>(size), caller);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  char text[64];
  if (GetEnvironmentVariableA("PLUGHOST_FAIL_ALLOCATION", text, sizeof(text)) > 0)
    SetAllocationFailureAt(strtoull(text, nullptr, 10));
  char tracePath[MAX_PATH];
  if (GetEnvironmentVariableA("PLUGHOST_ALLOC_TRACE", tracePath, MAX_PATH) > 0) {
    gTrace = fopen(tracePath, "w");
    if (gTrace != nullptr) setvbuf(gTrace, nullptr, _IONBF, 0);
    SetAllocationObserver(Trace);
  }
  int code = RunProcess(commandLine);
  char path[MAX_PATH];
  if (GetEnvironmentVariableA("PLUGHOST_LEAK_REPORT", path, MAX_PATH) > 0) {
    FILE* f = fopen(path, "w");
    if (f != nullptr) {
      // -2: not measurable, a job was still running and kept its memory.
      long long outstanding = JobRunningAtLoopEnd() ? -2 : static_cast<long long>(OutstandingBlocks());
      fprintf(f, "%lld %llu\n", outstanding,
              static_cast<unsigned long long>(AllocationCount()));
      fclose(f);
    }
  }
  ExitProcess(static_cast<UINT>(code));
}
