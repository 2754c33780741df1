#include "catalogue/module_loader.h"

#include <cstring>

#include "base/text.h"
#include "catalogue/system_calls.h"
#include "wire/protocol.h"

// The ordinal of a "#" entry-point text: after "#", optional white space and a
// sign, then decimal digits up to the first non-digit (none give 0). False when
// the text does not start with "#".
static bool ParseOrdinalText(const char* text, int32_t* ordinal) {
  if (text == nullptr || text[0] != '#') return false;
  const char* p = text + 1;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulated in 64 bits and saturated, so a long digit run cannot overflow.
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  *ordinal = static_cast<int32_t>(value);
  return true;
}

// The system's text for a load error with "%1" replaced by the file name.
static void LoadErrorText(wchar_t* text, DWORD error, const wchar_t* path) {
  wchar_t system[PATH_UNITS];
  system[0] = 0;
  DWORD n = osFormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, system,
                           PATH_UNITS, nullptr);
  if (n == 0) {
    // No system text for the code: say what failed and give the code.
    BoundedFormatW(system, PATH_UNITS, L"The plug-in module %%1 could not be loaded (error %lu).",
                   static_cast<unsigned long>(error));
  }
  ptrdiff_t separator = FindLastSeparator(path);
  const wchar_t* fileName = separator >= 0 ? path + separator + 1 : path;
  ReplaceAllW(text, PATH_UNITS, system, fileName);
}

PluginEntryProc LoadPluginEntryPoint(uintptr_t ownerWindow, PluginEntry* entry, void** moduleOut) {
  if (moduleOut != nullptr) *moduleOut = nullptr;
  if (entry == nullptr) return nullptr;
  HWND owner = reinterpret_cast<HWND>(ownerWindow);

  wchar_t saved[PATH_UNITS];
  DWORD savedLength = osGetCurrentDirectoryW(PATH_UNITS, saved);
  // The folder is changed only when the current one can be put back.
  bool haveSaved = savedLength > 0 && savedLength < PATH_UNITS;

  if (haveSaved && !IsBadStringW(entry->path) && entry->path[0] != 0) {
    wchar_t folder[PATH_UNITS];
    BoundedCopyW(folder, PATH_UNITS, entry->path);
    ptrdiff_t separator = FindLastSeparator(folder);
    if (separator >= 0) {
      folder[separator] = 0;
      osSetCurrentDirectoryW(folder);
    }
  }
  HMODULE module = osLoadLibraryExW(entry->path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  DWORD error = GetLastError();
  if (haveSaved) osSetCurrentDirectoryW(saved);

  if (module == nullptr) {
    wchar_t text[PATH_UNITS];
    LoadErrorText(text, error, entry->path);
    osMessageBoxW(owner, text, kLoadingErrorTitle, MB_OK);
    return nullptr;
  }

  TrimW(entry->entryPoint, kPathTrimSet);
  char narrow[NARROW_UNITS];
  narrow[0] = 0;
  ToNarrowString(narrow, entry->entryPoint);
  FARPROC address = nullptr;
  int32_t ordinal = 0;
  if (!ParseOrdinalText(narrow, &ordinal)) {
    address = osGetProcAddress(module, narrow);
  } else if (ordinal >= 1 && ordinal <= 0xFFFF) {
    // Only a value below 65536 is taken as an ordinal; anything else would be
    // read as the address of a name.
    address = osGetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(ordinal)));
  }
  if (address == nullptr) {
    osMessageBoxW(owner, kEntryPointNotFoundText, kLoadingErrorTitle, MB_OK);
    osFreeLibrary(module);
    return nullptr;
  }
  if (moduleOut != nullptr) *moduleOut = module;
  return reinterpret_cast<PluginEntryProc>(reinterpret_cast<void*>(address));
}
