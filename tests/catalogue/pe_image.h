// Module images made in memory for the PiPL resource tests: DOS and PE
// headers, one ".rsrc" section holding a resource tree, nothing else. The
// places of the tree's entries are returned, so a test can break one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v);
void Put32(Bytes& b, uint32_t v);
void Set32(Bytes& b, uint64_t at, uint32_t v);
uint32_t Get32(const Bytes& b, uint64_t at);

// PiPL bodies: the 10-byte header, then properties.
Bytes PiplHeader(uint32_t count);
// A property with this 8-byte signature, stated length and data (written as
// given, unpadded).
void Property(Bytes& b, const uint8_t* signature, uint32_t length, const Bytes& data);
// The same, padded to four bytes, with the padding counted in the length.
void NameProperty(Bytes& b, const std::string& name);
void CodeProperty(Bytes& b, const uint8_t* signature, const std::string& entry);
// A whole PiPL with a name and code properties for the given signatures.
Bytes MakePipl(const std::string& name, const std::vector<std::pair<const uint8_t*, std::string>>& codes);

struct PlannedResource {
  uint32_t id;
  std::vector<Bytes> languages;  // one body per language, in order
};

struct ImagePlan {
  uint16_t machine = 0x8664;
  bool pe32plus = true;
  std::u16string typeName = u"PIPL";
  std::vector<PlannedResource> pipls;
  // Resources of type RCDATA (10), listed after the PIPL type.
  std::vector<PlannedResource> others;
};

struct BuiltImage {
  Bytes bytes;
  uint32_t rsrcRva;         // the section's address, and its root
  uint64_t rsrcAt;          // the root's file offset
  uint64_t sectionHeaderAt; // file offset of the section's table row
  uint64_t resourceDirectoryAt;  // file offset of the optional header's resource row
  uint64_t typeEntryAt;     // the root's PIPL entry
  uint64_t typeDirectoryAt; // the PIPL type directory
  std::vector<uint64_t> idEntryAt;        // per PiPL id, its entry in the type directory
  std::vector<uint64_t> languageEntryAt;  // per PiPL id, the first entry of its language directory
  std::vector<uint64_t> dataEntryAt;      // per PiPL id, the data entry of its first language
  std::vector<uint64_t> dataAt;           // per PiPL id, the first language's body
  uint32_t OffsetOf(uint64_t fileOffset) const { return static_cast<uint32_t>(fileOffset - rsrcAt); }
};

BuiltImage BuildImage(const ImagePlan& plan);
