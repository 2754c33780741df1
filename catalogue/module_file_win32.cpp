#include "catalogue/module_file_win32.h"

#include <windows.h>

#include "base/memory.h"

namespace {
constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
}

bool ReadModuleFile(const wchar_t* path, uint8_t** bytes, uint32_t* size) {
  *bytes = nullptr;
  *size = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  DWORD length = GetFileSize(file, nullptr);
  if (length == INVALID_FILE_SIZE) length = 0;
  uint8_t* buffer = static_cast<uint8_t*>(AllocFixed(length == 0 ? 1 : length));
  if (buffer == nullptr) {
    CloseHandle(file);
    return true;
  }
  DWORD got = 0;
  BOOL ok = ReadFile(file, buffer, length, &got, nullptr);
  CloseHandle(file);
  // A short read below nine tenths of the size is a failed read.
  if (!ok || static_cast<uint64_t>(got) < static_cast<uint64_t>(length) * 9 / 10) {
    FreeBlock(buffer);
    return true;
  }
  // Only the bytes that arrived are read.
  *bytes = buffer;
  *size = got;
  return true;
}

bool TrialLoadModule(const wchar_t* path) {
  UINT mode = SetErrorMode(kQuietErrorMode);
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  SetErrorMode(mode);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}
