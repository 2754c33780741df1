// The settings block's header, a wire record of its own: it carries no
// text, so the pure settings code (built natively for fuzzing, where wchar_t
// is not UTF-16) can include it without the rest of the protocol.
#pragma once
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
// The settings block's header; what follows it is described at the end.
struct SettingsBlockHeader {
  uint32_t magic;            // SETTINGS_MAGIC
  uint16_t version;          // SETTINGS_VERSION
  uint16_t headerBytes;      // sizeof(SettingsBlockHeader)
  uint32_t flags;            // 1: a descriptor was recorded; 2: parameters were
  uint32_t nameBytes;        // the plug-in's name; at most 255 units
  uint32_t entryBytes;       // its entry point; at most 255 units
  uint32_t descriptorBytes;  // zero unless flag 1
  uint32_t parametersBytes;  // zero unless flag 2
  uint32_t reserved;         // zero
};

constexpr uint32_t SETTINGS_MAGIC = 0x54534850;  // the bytes "PHST"
constexpr uint16_t SETTINGS_VERSION = 1;
#pragma pack(pop)

// The settings block (read and written by settings/settings_block.h), in REQ_FILTER_START_EX and
// the REQ_FETCH_SETTINGS reply. Little-endian, lengths in bytes:
//   0  u32 magic "PHST"       16 u32 entry length
//   4  u16 version (1)        20 u32 descriptor length
//   6  u16 header size (32)   24 u32 parameters length
//   8  u32 flags              28 u32 reserved, 0
//   12 u32 name length
// then the plug-in's name and entry point (UTF-16LE, no terminator, at most
// 255 units each), the descriptor (items of {u32 key, u32 kind, u32 length,
// value}, settings/descriptor_bytes.h) and the plug-in's own parameter bytes.
// Flag 1: a descriptor was recorded; 2: parameters were. The parts fill the
// block exactly; anything else answers ST_BAD_PAYLOAD and runs nothing.
static_assert(sizeof(SettingsBlockHeader) == 32);
static_assert(offsetof(SettingsBlockHeader, version) == 4);
static_assert(offsetof(SettingsBlockHeader, headerBytes) == 6);
static_assert(offsetof(SettingsBlockHeader, flags) == 8);
static_assert(offsetof(SettingsBlockHeader, nameBytes) == 12);
static_assert(offsetof(SettingsBlockHeader, entryBytes) == 16);
static_assert(offsetof(SettingsBlockHeader, descriptorBytes) == 20);
static_assert(offsetof(SettingsBlockHeader, parametersBytes) == 24);
static_assert(offsetof(SettingsBlockHeader, reserved) == 28);
static_assert(SETTINGS_MAGIC == 0x54534850 && SETTINGS_VERSION == 1);
