// Lists the plug-ins a module file declares in its PiPL resources; a file
// that declares none is decided by a trial load.
#include <cstring>

#include "catalogue/module_file_win32.h"
#include "catalogue/pipl_resources.h"
#include "catalogue/plugin_catalog.h"
#include "sdk/pipl.h"
#include "base/memory.h"
#include "base/guard.h"
#include "base/text.h"

namespace {

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

}  // namespace

uint32_t ReadPluginProperties(PluginCatalog* catalog, PluginEntry* entry) {
  if (catalog == nullptr || entry == nullptr) return 0;
  uint8_t* buffer = nullptr;
  uint32_t size = 0;
  // A file that cannot be opened is not a plug-in, not even by trial load.
  if (ReadModuleFile(entry->path, &buffer, &size) != 0) return 0;
  if (buffer != nullptr) {
    ReadContext context{catalog, entry, 0};
    // A fault ends the file's walk; pairs found before it still count.
    Guarded([&] { ReadModulePipls(buffer, size, kPiplBuildMachine, AppendPair, &context, nullptr); });
    FreeBlock(buffer);
    if (context.pairs > 0) return 1;
  }
  return TrialLoadModule(entry->path) == 0 ? 1 : 0;
}
