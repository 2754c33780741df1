// A descriptor, as the server keeps it between a plug-in's write and a later
// read: a run of items, each {u32 key, u32 kind, u32 value length, value},
// little-endian, in the order they were written. The same bytes travel in a
// settings block and sit in the descriptor handle a plug-in is given, so a
// plug-in that disposes of that handle disposes of plain bytes. Pure code:
// every length is checked against the bytes before it is used.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

enum DescriptorKind : uint32_t {
  DK_INTEGER = 1,        // i32
  DK_FLOAT = 2,          // f64
  DK_UNIT_FLOAT = 3,     // u32 unit, f64
  DK_BOOLEAN = 4,        // u8, 0 or 1
  DK_TEXT = 5,           // 8-bit characters, no terminator
  DK_ALIAS = 6,          // the alias bytes
  DK_ENUMERATED = 7,     // u32 enumeration type, u32 value
  DK_CLASS = 8,          // u32 class
  DK_REFERENCE = 9,      // a simple reference record, 276 bytes as published
  DK_OBJECT = 10,        // u32 class, then a nested descriptor
  DK_COUNT = 11,         // u32
  DK_STRING = 12,        // the characters of a Pascal string (at most 255)
  DK_SCOPED_CLASS = 13,  // u32 class
  DK_SCOPED_OBJECT = 14, // u32 class, then a nested descriptor
};

constexpr uint32_t DESCRIPTOR_REFERENCE_BYTES = 276;
constexpr uint32_t DESCRIPTOR_ITEM_HEADER_BYTES = 12;
// Objects nest; deeper descriptors are refused, so no walk recurses without end.
constexpr int DESCRIPTOR_MAX_DEPTH = 16;

// The type code a plug-in's getKeyProc reports for a kind. Text and Pascal
// strings share 'TEXT' and are read by either procedure; a count reads as
// 'long'. Zero for an unknown kind.
uint32_t DescriptorTypeCode(uint32_t kind);
// The kind a raw type code stands for when it is replayed ('obj ', 'GlbC',
// 'GlbO' and the codes above); 0 when none.
uint32_t DescriptorKindFromTypeCode(uint32_t typeCode);

struct DescriptorItem {
  uint32_t key;
  uint32_t kind;
  const uint8_t* value;  // points into the descriptor's bytes
  uint32_t length;
};

// The item at *offset, which then moves past it. False at the end or when the
// bytes there do not form an item (a short header, a length past the end, a
// fixed-size kind of the wrong size, an unknown kind).
bool NextDescriptorItem(const uint8_t* bytes, size_t size, size_t* offset, DescriptorItem* item);
// The first item with `key`, among the items that are well formed.
bool DescriptorFind(const uint8_t* bytes, size_t size, uint32_t key, DescriptorItem* found);
// Every item of the descriptor and of the objects inside it well formed, each
// key once in its descriptor (a key written again replaces its value), and
// objects nested at most DESCRIPTOR_MAX_DEPTH deep.
bool DescriptorIsValid(const uint8_t* bytes, size_t size);

// Fixed-size values, read from an item of the matching kind and size.
uint32_t ReadU32(const uint8_t* p);
int32_t ReadI32(const uint8_t* p);
double ReadF64(const uint8_t* p);

// Little-endian stores, the counterparts of the reads above.
void StoreU32(uint8_t* p, uint32_t value);
void StoreF64(uint8_t* p, double value);
// Writes one item, header and value, at `at`, which has room for
// DESCRIPTOR_ITEM_HEADER_BYTES + length bytes. The caller has checked the
// kind's size (for instance through DescriptorIsValid).
void WriteDescriptorItem(uint8_t* at, uint32_t key, uint32_t kind, const void* value, uint32_t length);

// Appends one item; the value bytes are copied. False when the value is larger
// than an item can say (4 GiB) or the kind's fixed size does not match.
bool AppendDescriptorItem(std::string* bytes, uint32_t key, uint32_t kind, const void* value, size_t length);
bool AppendDescriptorU32(std::string* bytes, uint32_t key, uint32_t kind, uint32_t value);
bool AppendDescriptorPair(std::string* bytes, uint32_t key, uint32_t kind, uint32_t first, uint32_t second);
bool AppendDescriptorF64(std::string* bytes, uint32_t key, uint32_t kind, double value);
bool AppendDescriptorUnitFloat(std::string* bytes, uint32_t key, uint32_t unit, double value);
// An object or scoped object: its class, then the nested descriptor's bytes.
bool AppendDescriptorObject(std::string* bytes, uint32_t key, uint32_t kind, uint32_t objectClass,
                            const void* nested, size_t nestedSize);
