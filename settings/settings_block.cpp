#include "settings/settings_block.h"

#include <cstring>

#include "settings/descriptor_bytes.h"

SettingsBlockError ParseSettingsBlock(const uint8_t* bytes, size_t size, SettingsView* view) {
  if (bytes == nullptr || size < sizeof(SettingsBlockHeader)) return SETTINGS_SHORT;
  SettingsBlockHeader h;
  memcpy(&h, bytes, sizeof(h));
  if (h.magic != SETTINGS_MAGIC || h.version != SETTINGS_VERSION || h.headerBytes != sizeof(h) || h.reserved != 0 ||
      (h.flags & ~(SETTINGS_HAS_DESCRIPTOR | SETTINGS_HAS_PARAMETERS)) != 0)
    return SETTINGS_BAD_HEADER;
  if ((h.flags & SETTINGS_HAS_DESCRIPTOR) == 0 && h.descriptorBytes != 0) return SETTINGS_BAD_HEADER;
  if ((h.flags & SETTINGS_HAS_PARAMETERS) == 0 && h.parametersBytes != 0) return SETTINGS_BAD_HEADER;
  // Summed in 64 bits: four 32-bit lengths cannot wrap there.
  const uint64_t total = uint64_t{sizeof(h)} + h.nameBytes + h.entryBytes + h.descriptorBytes + h.parametersBytes;
  if (total != size || h.nameBytes % 2 != 0 || h.entryBytes % 2 != 0 ||
      h.nameBytes > 2 * SETTINGS_NAME_MAX_UNITS || h.entryBytes > 2 * SETTINGS_NAME_MAX_UNITS ||
      h.parametersBytes > INT32_MAX)
    return SETTINGS_BAD_LENGTHS;
  const uint8_t* p = bytes + sizeof(h);
  view->flags = h.flags;
  view->name = p;
  view->nameBytes = h.nameBytes;
  p += h.nameBytes;
  view->entry = p;
  view->entryBytes = h.entryBytes;
  p += h.entryBytes;
  view->descriptor = p;
  view->descriptorBytes = h.descriptorBytes;
  p += h.descriptorBytes;
  view->parameters = p;
  view->parametersBytes = h.parametersBytes;
  if (!DescriptorIsValid(view->descriptor, view->descriptorBytes)) return SETTINGS_BAD_DESCRIPTOR;
  return SETTINGS_OK;
}

static void AppendUnits(std::string* out, const std::u16string& text) {
  for (char16_t u : text) {
    out->push_back(static_cast<char>(u & 0xFF));
    out->push_back(static_cast<char>(u >> 8));
  }
}

static std::u16string Units(const uint8_t* bytes, uint32_t size) {
  std::u16string text;
  for (uint32_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  return text;
}

bool BuildSettingsBlock(const RecordedSettings& s, std::string* block) {
  if (s.name.size() > SETTINGS_NAME_MAX_UNITS || s.entry.size() > SETTINGS_NAME_MAX_UNITS ||
      s.descriptor.size() > UINT32_MAX / 2 || s.parameters.size() > INT32_MAX ||
      (!s.hasDescriptor && !s.descriptor.empty()) || (!s.hasParameters && !s.parameters.empty()))
    return false;
  SettingsBlockHeader h{};
  h.magic = SETTINGS_MAGIC;
  h.version = SETTINGS_VERSION;
  h.headerBytes = sizeof(h);
  h.flags = (s.hasDescriptor ? SETTINGS_HAS_DESCRIPTOR : 0) | (s.hasParameters ? SETTINGS_HAS_PARAMETERS : 0);
  h.nameBytes = static_cast<uint32_t>(2 * s.name.size());
  h.entryBytes = static_cast<uint32_t>(2 * s.entry.size());
  h.descriptorBytes = static_cast<uint32_t>(s.descriptor.size());
  h.parametersBytes = static_cast<uint32_t>(s.parameters.size());
  if (uint64_t{sizeof(h)} + h.nameBytes + h.entryBytes + h.descriptorBytes + h.parametersBytes > UINT32_MAX)
    return false;
  block->assign(reinterpret_cast<const char*>(&h), sizeof(h));
  AppendUnits(block, s.name);
  AppendUnits(block, s.entry);
  block->append(s.descriptor);
  block->append(s.parameters);
  return true;
}

RecordedSettings SettingsFromView(const SettingsView& v) {
  RecordedSettings s;
  s.name = Units(v.name, v.nameBytes);
  s.entry = Units(v.entry, v.entryBytes);
  s.hasDescriptor = (v.flags & SETTINGS_HAS_DESCRIPTOR) != 0;
  s.descriptor.assign(reinterpret_cast<const char*>(v.descriptor), v.descriptorBytes);
  s.hasParameters = (v.flags & SETTINGS_HAS_PARAMETERS) != 0;
  s.parameters.assign(reinterpret_cast<const char*>(v.parameters), v.parametersBytes);
  return s;
}
