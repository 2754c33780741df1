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

// UTF-16LE bytes of a text, and back.
static std::string Units(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

static std::u16string Units(const uint8_t* bytes, uint32_t size) {
  std::u16string text;
  for (uint32_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  return text;
}

uint64_t SettingsBlockSize(const SettingsView& v) {
  if (v.nameBytes > 2 * SETTINGS_NAME_MAX_UNITS || v.entryBytes > 2 * SETTINGS_NAME_MAX_UNITS ||
      v.nameBytes % 2 != 0 || v.entryBytes % 2 != 0 || v.parametersBytes > INT32_MAX ||
      (v.flags & ~(SETTINGS_HAS_DESCRIPTOR | SETTINGS_HAS_PARAMETERS)) != 0 ||
      ((v.flags & SETTINGS_HAS_DESCRIPTOR) == 0 && v.descriptorBytes != 0) ||
      ((v.flags & SETTINGS_HAS_PARAMETERS) == 0 && v.parametersBytes != 0))
    return 0;
  const uint64_t total =
      uint64_t{sizeof(SettingsBlockHeader)} + v.nameBytes + v.entryBytes + v.descriptorBytes + v.parametersBytes;
  return total > UINT32_MAX ? 0 : total;
}

static uint8_t* Put(uint8_t* at, const uint8_t* bytes, uint32_t size) {
  if (size != 0) memcpy(at, bytes, size);
  return at + size;
}

void WriteSettingsBlock(const SettingsView& v, uint8_t* block) {
  SettingsBlockHeader h{};
  h.magic = SETTINGS_MAGIC;
  h.version = SETTINGS_VERSION;
  h.headerBytes = sizeof(h);
  h.flags = v.flags;
  h.nameBytes = v.nameBytes;
  h.entryBytes = v.entryBytes;
  h.descriptorBytes = v.descriptorBytes;
  h.parametersBytes = v.parametersBytes;
  memcpy(block, &h, sizeof(h));
  uint8_t* at = Put(block + sizeof(h), v.name, v.nameBytes);
  at = Put(at, v.entry, v.entryBytes);
  at = Put(at, v.descriptor, v.descriptorBytes);
  Put(at, v.parameters, v.parametersBytes);
}

bool BuildSettingsBlock(const RecordedSettings& s, std::string* block) {
  if (s.descriptor.size() > UINT32_MAX || s.parameters.size() > UINT32_MAX) return false;
  const std::string name = Units(s.name), entry = Units(s.entry);
  if (name.size() > UINT32_MAX || entry.size() > UINT32_MAX) return false;
  auto bytes = [](const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); };
  SettingsView v{
      (s.hasDescriptor ? SETTINGS_HAS_DESCRIPTOR : 0) | (s.hasParameters ? SETTINGS_HAS_PARAMETERS : 0),
      bytes(name), static_cast<uint32_t>(name.size()), bytes(entry), static_cast<uint32_t>(entry.size()),
      bytes(s.descriptor), static_cast<uint32_t>(s.descriptor.size()), bytes(s.parameters),
      static_cast<uint32_t>(s.parameters.size())};
  const uint64_t size = SettingsBlockSize(v);
  if (size == 0) return false;
  block->assign(static_cast<size_t>(size), '\0');
  WriteSettingsBlock(v, reinterpret_cast<uint8_t*>(&(*block)[0]));
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
