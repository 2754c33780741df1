// The catalogue's system calls, which its files make as osName(...) (see
// base/system_calls.h).
#pragma once
#include <windows.h>
#include <objbase.h>

#include "base/system_calls.h"

#define CATALOGUE_SYSTEM_CALLS(X, rows)                    \
  X(rows, CloseHandle, FALSE)                              \
  X(rows, CoCreateInstance, E_FAIL)                        \
  X(rows, CoInitializeEx, E_FAIL)                          \
  X(rows, CoUninitialize, 0)                               \
  X(rows, CompareStringOrdinal, 0)                         \
  X(rows, CreateFileW, INVALID_HANDLE_VALUE)               \
  X(rows, FindClose, FALSE)                                \
  X(rows, FindFirstFileW, INVALID_HANDLE_VALUE)            \
  X(rows, FindNextFileW, FALSE)                            \
  X(rows, FormatMessageW, 0)                               \
  X(rows, FreeLibrary, FALSE)                              \
  X(rows, GetCurrentDirectoryW, 0)                         \
  X(rows, GetFileAttributesW, INVALID_FILE_ATTRIBUTES)     \
  X(rows, GetFileSize, INVALID_FILE_SIZE)                  \
  X(rows, GetProcAddress, nullptr)                         \
  X(rows, LoadLibraryExW, nullptr)                         \
  X(rows, MessageBoxW, 0)                                  \
  X(rows, ReadFile, FALSE)                                 \
  X(rows, SetCurrentDirectoryW, FALSE)                     \
  X(rows, SetErrorMode, 0)                                 \
  X(rows, SetFilePointer, INVALID_SET_FILE_POINTER)

PLUGHOST_SYSTEM_CALL_TABLE(CATALOGUE_SYSTEM_CALLS, gCatalogueCalls)
