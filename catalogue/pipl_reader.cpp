// Reads a module file whole and lists the plug-ins its PiPL properties name;
// a file without pairs is decided by a trial load.
#include <windows.h>

#include <cstring>

#include "catalogue/pipl_scan.h"
#include "catalogue/plugin_catalog.h"
#include "sdk/pipl.h"
#include "server/memory.h"
#include "server/text/guard.h"
#include "server/text/text.h"

namespace {

constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;

struct ReadContext {
  PluginCatalog* catalog;
  PluginEntry* entry;
  uint32_t pairs;
};

void ConvertText(wchar_t* out, const uint8_t* text, uint32_t length) {
  char narrow[PIPL_TEXT_MAX + 1];
  memcpy(narrow, text, length);
  narrow[length] = 0;
  ToWideString(out, NAME_UNITS, narrow);
}

int AppendPair(void* c, const PiplPair* pair) {
  ReadContext* context = static_cast<ReadContext*>(c);
  PluginEntry* entry = context->entry;
  // Cleared whole, so no units of an earlier pair linger after the terminator.
  memset(entry->name, 0, sizeof(entry->name));
  memset(entry->entryPoint, 0, sizeof(entry->entryPoint));
  ConvertText(entry->name, pair->name, pair->nameLength);
  ConvertText(entry->entryPoint, pair->entryPoint, pair->entryPointLength);
  if (entry->name[0] == 0 || entry->entryPoint[0] == 0) return 0;
  PluginCatalog* catalog = context->catalog;
  if (catalog->count < catalog->capacity) {
    memcpy(CatalogueEntry(catalog, catalog->count), entry, sizeof(PluginEntry));
    ++catalog->count;
  }
  ++context->pairs;
  return 1;
}

// False when the file cannot be opened. Otherwise *out gets the whole file
// in a fixed block (null when it could not be buffered or read) and *size its
// byte count.
bool ReadWholeFile(const wchar_t* path, uint8_t** out, uint32_t* size) {
  *out = nullptr;
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
  // Only the bytes that arrived are scanned.
  *out = buffer;
  *size = got;
  return true;
}

bool LoadsAsModule(const wchar_t* path) {
  UINT mode = SetErrorMode(kQuietErrorMode);
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  SetErrorMode(mode);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

}  // namespace

uint32_t ReadPluginProperties(PluginCatalog* catalog, PluginEntry* entry) {
  if (catalog == nullptr || entry == nullptr) return 0;
  uint8_t* buffer = nullptr;
  uint32_t size = 0;
  // A file that cannot be opened is not a plug-in, not even by trial load.
  if (!ReadWholeFile(entry->path, &buffer, &size)) return 0;
  if (buffer != nullptr) {
    ReadContext context{catalog, entry, 0};
    // A fault ends the file's scan; pairs found before it still count.
    Guarded([&] { ScanPiplBytes(buffer, size, kPiplBuildCodeSignature, AppendPair, &context); });
    FreeBlock(buffer);
    if (context.pairs > 0) return 1;
  }
  return LoadsAsModule(entry->path) ? 1 : 0;
}
