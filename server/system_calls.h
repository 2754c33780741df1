// The server's system calls, which its files make as osName(...) (see
// base/system_calls.h).
#pragma once
#include <windows.h>

#include "base/system_calls.h"

#define SERVER_SYSTEM_CALLS(X, rows)                 \
  X(rows, CancelIo, FALSE)                           \
  X(rows, CloseHandle, FALSE)                        \
  X(rows, CreateEventW, nullptr)                     \
  X(rows, CreateFileW, INVALID_HANDLE_VALUE)         \
  X(rows, CreateThread, nullptr)                     \
  X(rows, GetCurrentThread, nullptr)                 \
  X(rows, GetExitCodeThread, FALSE)                  \
  X(rows, GetModuleFileNameW, 0)                     \
  X(rows, GetOverlappedResult, FALSE)                \
  X(rows, ReadFile, FALSE)                           \
  X(rows, SetErrorMode, 0)                           \
  X(rows, SetThreadPriority, FALSE)                  \
  X(rows, Sleep, 0)                                  \
  X(rows, WaitForSingleObject, WAIT_FAILED)          \
  X(rows, WriteFile, FALSE)

PLUGHOST_SYSTEM_CALL_TABLE(SERVER_SYSTEM_CALLS, gServerCalls)
