// The catalogue: one fixed, zero-filled block holding a small header and the
// entries back to back. It crosses to the editor entry by entry, unchanged.
#pragma once
#include <cstdint>

#include "wire/protocol.h"

struct PluginCatalog {
  uint32_t count;     // entries filled
  uint32_t capacity;  // entries that may be filled; equals count once a scan ends
  /* PluginEntry records follow */
};

constexpr uint32_t CATALOGUE_HEADER_BYTES = 8;
// Room for four entries more than the capacity.
constexpr uint64_t CATALOGUE_SPARE_BYTES = 6184;
static_assert(sizeof(PluginCatalog) == CATALOGUE_HEADER_BYTES);

inline PluginEntry* CatalogueEntry(PluginCatalog* c, uint32_t i) {
  return reinterpret_cast<PluginEntry*>(reinterpret_cast<uint8_t*>(c) + CATALOGUE_HEADER_BYTES) + i;
}

inline uint64_t CatalogueBlockBytes(uint32_t capacity) {
  return static_cast<uint64_t>(capacity) * sizeof(PluginEntry) + CATALOGUE_SPARE_BYTES;
}

// Appends one entry per PiPL resource of the file named by entry->path
// (entry otherwise zeroed) that declares a name and an entry point for this
// build's processor; modules of the other processor give none. Answers 1
// when the file gives an entry or loads as a module, else 0. Entries beyond
// the capacity count but are not stored.
uint32_t ReadPluginProperties(PluginCatalog* catalog, PluginEntry* entry);
