#include "settings/descriptor_bytes.h"

#include <cstring>

#include "sdk/basic_types.h"

namespace {

struct KindRow {
  uint32_t kind;
  uint32_t typeCode;
  int32_t fixedSize;  // -1: any length; -2: a class and a nested descriptor
};

// The scripting type codes plug-ins compare getKeyProc's answer with.
constexpr KindRow kKinds[] = {
    {DK_INTEGER, FourCC("long"), 4},
    {DK_FLOAT, FourCC("doub"), 8},
    {DK_UNIT_FLOAT, FourCC("UntF"), 12},
    {DK_BOOLEAN, FourCC("bool"), 1},
    {DK_TEXT, FourCC("TEXT"), -1},
    {DK_ALIAS, FourCC("alis"), -1},
    {DK_ENUMERATED, FourCC("enum"), 8},
    {DK_CLASS, FourCC("type"), 4},
    {DK_REFERENCE, FourCC("obj "), static_cast<int32_t>(DESCRIPTOR_REFERENCE_BYTES)},
    {DK_OBJECT, FourCC("Objc"), -2},
    {DK_COUNT, FourCC("long"), 4},
    {DK_STRING, FourCC("TEXT"), -1},
    {DK_SCOPED_CLASS, FourCC("GlbC"), 4},
    {DK_SCOPED_OBJECT, FourCC("GlbO"), -2},
};

const KindRow* Row(uint32_t kind) {
  for (const KindRow& row : kKinds)
    if (row.kind == kind) return &row;
  return nullptr;
}

bool ValidAt(const uint8_t* bytes, size_t size, int depth) {
  if (depth > DESCRIPTOR_MAX_DEPTH) return false;
  size_t offset = 0;
  DescriptorItem item;
  while (NextDescriptorItem(bytes, size, &offset, &item)) {
    if (DescriptorFind(bytes, offset - DESCRIPTOR_ITEM_HEADER_BYTES - item.length, item.key, nullptr)) return false;
    if ((item.kind == DK_OBJECT || item.kind == DK_SCOPED_OBJECT) &&
        !ValidAt(item.value + 4, item.length - 4, depth + 1))
      return false;
    if (item.kind == DK_STRING && item.length > 255) return false;
    if (item.kind == DK_BOOLEAN && item.value[0] > 1) return false;
  }
  return offset == size;
}

}  // namespace

uint32_t DescriptorTypeCode(uint32_t kind) {
  const KindRow* row = Row(kind);
  return row != nullptr ? row->typeCode : 0;
}

uint32_t DescriptorKindFromTypeCode(uint32_t typeCode) {
  // The first row with the code: 'TEXT' is text, 'long' an integer.
  for (const KindRow& row : kKinds)
    if (row.typeCode == typeCode) return row.kind;
  return 0;
}

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadU32(p)); }

void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void StoreF64(uint8_t* p, double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof(bits));
  StoreU32(p, static_cast<uint32_t>(bits));
  StoreU32(p + 4, static_cast<uint32_t>(bits >> 32));
}

void WriteDescriptorItem(uint8_t* at, uint32_t key, uint32_t kind, const void* value, uint32_t length) {
  StoreU32(at, key);
  StoreU32(at + 4, kind);
  StoreU32(at + 8, length);
  if (length != 0) memcpy(at + DESCRIPTOR_ITEM_HEADER_BYTES, value, length);
}

double ReadF64(const uint8_t* p) {
  const uint64_t bits = static_cast<uint64_t>(ReadU32(p)) | static_cast<uint64_t>(ReadU32(p + 4)) << 32;
  double v;
  memcpy(&v, &bits, sizeof(v));
  return v;
}

bool NextDescriptorItem(const uint8_t* bytes, size_t size, size_t* offset, DescriptorItem* item) {
  if (*offset > size || size - *offset < DESCRIPTOR_ITEM_HEADER_BYTES) return false;
  const uint8_t* p = bytes + *offset;
  const uint32_t kind = ReadU32(p + 4), length = ReadU32(p + 8);
  const KindRow* row = Row(kind);
  if (row == nullptr || length > size - *offset - DESCRIPTOR_ITEM_HEADER_BYTES) return false;
  if (row->fixedSize >= 0 && length != static_cast<uint32_t>(row->fixedSize)) return false;
  if (row->fixedSize == -2 && length < 4) return false;
  item->key = ReadU32(p);
  item->kind = kind;
  item->value = p + DESCRIPTOR_ITEM_HEADER_BYTES;
  item->length = length;
  *offset += DESCRIPTOR_ITEM_HEADER_BYTES + static_cast<size_t>(length);
  return true;
}

bool DescriptorFind(const uint8_t* bytes, size_t size, uint32_t key, DescriptorItem* found) {
  size_t offset = 0;
  DescriptorItem item;
  while (NextDescriptorItem(bytes, size, &offset, &item))
    if (item.key == key) {
      if (found != nullptr) *found = item;
      return true;
    }
  return false;
}

bool DescriptorIsValid(const uint8_t* bytes, size_t size) {
  return (bytes != nullptr || size == 0) && ValidAt(bytes, size, 0);
}

bool AppendDescriptorItem(std::string* bytes, uint32_t key, uint32_t kind, const void* value, size_t length) {
  const KindRow* row = Row(kind);
  if (row == nullptr || length > UINT32_MAX - DESCRIPTOR_ITEM_HEADER_BYTES) return false;
  if (row->fixedSize >= 0 && length != static_cast<size_t>(row->fixedSize)) return false;
  if (row->fixedSize == -2 && length < 4) return false;
  const size_t at = bytes->size();
  bytes->resize(at + DESCRIPTOR_ITEM_HEADER_BYTES + length);
  WriteDescriptorItem(reinterpret_cast<uint8_t*>(&(*bytes)[at]), key, kind, value, static_cast<uint32_t>(length));
  return true;
}

bool AppendDescriptorU32(std::string* bytes, uint32_t key, uint32_t kind, uint32_t value) {
  uint8_t v[4];
  StoreU32(v, value);
  return AppendDescriptorItem(bytes, key, kind, v, sizeof(v));
}

bool AppendDescriptorPair(std::string* bytes, uint32_t key, uint32_t kind, uint32_t first, uint32_t second) {
  uint8_t v[8];
  StoreU32(v, first);
  StoreU32(v + 4, second);
  return AppendDescriptorItem(bytes, key, kind, v, sizeof(v));
}

bool AppendDescriptorF64(std::string* bytes, uint32_t key, uint32_t kind, double value) {
  uint8_t v[8];
  StoreF64(v, value);
  return AppendDescriptorItem(bytes, key, kind, v, sizeof(v));
}

bool AppendDescriptorUnitFloat(std::string* bytes, uint32_t key, uint32_t unit, double value) {
  uint8_t v[12];
  StoreU32(v, unit);
  StoreF64(v + 4, value);
  return AppendDescriptorItem(bytes, key, DK_UNIT_FLOAT, v, sizeof(v));
}

bool AppendDescriptorObject(std::string* bytes, uint32_t key, uint32_t kind, uint32_t objectClass,
                            const void* nested, size_t nestedSize) {
  if (kind != DK_OBJECT && kind != DK_SCOPED_OBJECT) return false;
  std::string v(4, '\0');
  StoreU32(reinterpret_cast<uint8_t*>(&v[0]), objectClass);
  if (nestedSize != 0) v.append(static_cast<const char*>(nested), nestedSize);
  return AppendDescriptorItem(bytes, key, kind, v.data(), v.size());
}
