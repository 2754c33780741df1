#include "catalogue/module_file_win32.h"

#include "base/memory.h"
#include "catalogue/system_calls.h"

namespace {
constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
}

// The error a failed call left, never 0: a call that failed without saying why
// still failed.
static uint32_t FailureCode() {
  DWORD code = GetLastError();
  return code != 0 ? code : ERROR_GEN_FAILURE;
}

uint32_t ReadModuleFile(const wchar_t* path, uint8_t** bytes, uint32_t* size) {
  *bytes = nullptr;
  *size = 0;
  HANDLE file = osCreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FailureCode();
  osSetFilePointer(file, 0, nullptr, FILE_BEGIN);
  DWORD length = osGetFileSize(file, nullptr);
  if (length == INVALID_FILE_SIZE) length = 0;
  uint8_t* buffer = static_cast<uint8_t*>(AllocFixed(length == 0 ? 1 : length));
  if (buffer == nullptr) {
    osCloseHandle(file);
    return 0;
  }
  DWORD got = 0;
  BOOL ok = osReadFile(file, buffer, length, &got, nullptr);
  osCloseHandle(file);
  // A short read below nine tenths of the size is a failed read.
  if (!ok || static_cast<uint64_t>(got) < static_cast<uint64_t>(length) * 9 / 10) {
    FreeBlock(buffer);
    return 0;
  }
  // Only the bytes that arrived are read.
  *bytes = buffer;
  *size = got;
  return 0;
}

uint32_t TrialLoadModule(const wchar_t* path) {
  UINT mode = osSetErrorMode(kQuietErrorMode);
  HMODULE module = osLoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  uint32_t code = module == nullptr ? FailureCode() : 0;
  osSetErrorMode(mode);
  if (module != nullptr) osFreeLibrary(module);
  return code;
}
