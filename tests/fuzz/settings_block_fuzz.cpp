// Fuzz target for the settings block a start request carries: any bytes. A
// block that parses must hold a well-formed descriptor and must rebuild to
// exactly the same bytes; nothing may read outside the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/descriptor_bytes.h"
#include "settings/settings_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact copy, so that reads past the input's end are reads past a block.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const uint8_t* block = reinterpret_cast<const uint8_t*>(bytes.data());
  SettingsView view;
  if (ParseSettingsBlock(block, bytes.size(), &view) != SETTINGS_OK) return 0;
  size_t offset = 0;
  DescriptorItem item;
  while (NextDescriptorItem(view.descriptor, view.descriptorBytes, &offset, &item)) {
  }
  if (offset != view.descriptorBytes) {
    fprintf(stderr, "settings_block_fuzz: a valid descriptor's items end at %zu of %u\n", offset, view.descriptorBytes);
    abort();
  }
  std::string rebuilt;
  if (!BuildSettingsBlock(SettingsFromView(view), &rebuilt) || rebuilt != bytes) {
    fprintf(stderr, "settings_block_fuzz: a parsed block does not rebuild to its own bytes\n");
    abort();
  }
  return 0;
}
