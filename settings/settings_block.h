// The settings of one Filter run as they cross the editor's pipe: what a
// start request replays and what REQ_FETCH_SETTINGS answers. A 32-byte header,
// then the plug-in's name and entry point (UTF-16LE, no terminator), the
// serialised descriptor and the plug-in's own parameter bytes, back to back.
// Every length is checked; the parts must fill the block exactly.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/settings_header.h"

// The header and its constants are wire records: wire/settings_header.h
// declares and pins them.
constexpr uint32_t SETTINGS_HAS_DESCRIPTOR = 1;  // a descriptor was recorded (it may be empty)
constexpr uint32_t SETTINGS_HAS_PARAMETERS = 2;  // parameter bytes were recorded (they may be none)
constexpr uint32_t SETTINGS_NAME_MAX_UNITS = 255;

// A parsed block: pointers into the block's own bytes.
struct SettingsView {
  uint32_t flags;
  const uint8_t* name;  // UTF-16LE
  uint32_t nameBytes;
  const uint8_t* entry;  // UTF-16LE
  uint32_t entryBytes;
  const uint8_t* descriptor;
  uint32_t descriptorBytes;
  const uint8_t* parameters;
  uint32_t parametersBytes;
};

enum SettingsBlockError : int32_t {
  SETTINGS_OK = 0,
  SETTINGS_SHORT = 1,          // shorter than its header
  SETTINGS_BAD_HEADER = 2,     // magic, version, header size, flags or reserved
  SETTINGS_BAD_LENGTHS = 3,    // the parts do not fill the block exactly, or a name is too long or odd
  SETTINGS_BAD_DESCRIPTOR = 4, // the descriptor's items are not well formed
};

// Parses `size` bytes; on SETTINGS_OK `view` points into `bytes`.
SettingsBlockError ParseSettingsBlock(const uint8_t* bytes, size_t size, SettingsView* view);

// The settings of a run, owned, as the editor side builds and reads them.
struct RecordedSettings {
  std::u16string name;
  std::u16string entry;
  bool hasDescriptor = false;
  std::string descriptor;
  bool hasParameters = false;
  std::string parameters;
};

// False when a part is too long for the block.
bool BuildSettingsBlock(const RecordedSettings& settings, std::string* block);
// The same into memory of the caller's, for code that allocates its own: the
// size of the block `parts` make (their flags and lengths, as a parse gives
// them), 0 when a part is too long; then the block itself, into that many bytes.
uint64_t SettingsBlockSize(const SettingsView& parts);
void WriteSettingsBlock(const SettingsView& parts, uint8_t* block);
// The owned form of a parsed block.
RecordedSettings SettingsFromView(const SettingsView& view);
