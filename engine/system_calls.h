// The engine's system calls, which its files make as osName(...) (see
// base/system_calls.h).
#pragma once
#include <windows.h>

#include "base/system_calls.h"

#define ENGINE_SYSTEM_CALLS(X, rows)                 \
  X(rows, BitBlt, FALSE)                             \
  X(rows, CloseHandle, FALSE)                        \
  X(rows, CreateCompatibleDC, nullptr)               \
  X(rows, CreateDIBSection, nullptr)                 \
  X(rows, CreateThread, nullptr)                     \
  X(rows, DeleteDC, FALSE)                           \
  X(rows, DeleteObject, FALSE)                       \
  X(rows, GdiFlush, FALSE)                           \
  X(rows, GetAsyncKeyState, 0)                       \
  X(rows, GetCurrentObject, nullptr)                 \
  X(rows, GetCurrentThreadId, 0)                     \
  X(rows, GetExitCodeThread, FALSE)                  \
  X(rows, GetObjectType, 0)                          \
  X(rows, GetObjectW, 0)                             \
  X(rows, GetSystemInfo, 0)                          \
  X(rows, GetTickCount, 0)                           \
  X(rows, IsBadCodePtr, TRUE)                        \
  X(rows, OpenThread, nullptr)                       \
  X(rows, SelectClipRgn, ERROR)                      \
  X(rows, SelectObject, nullptr)                     \
  X(rows, Sleep, 0)                                  \
  X(rows, TerminateThread, FALSE)                    \
  X(rows, TlsAlloc, TLS_OUT_OF_INDEXES)              \
  X(rows, TlsFree, FALSE)                            \
  X(rows, TlsGetValue, nullptr)                      \
  X(rows, TlsSetValue, FALSE)

PLUGHOST_SYSTEM_CALL_TABLE(ENGINE_SYSTEM_CALLS, gEngineCalls)
