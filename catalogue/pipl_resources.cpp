#include "catalogue/pipl_resources.h"

#include <cstring>

#include "sdk/pipl.h"

// Every offset is computed in 64 bits, even in the 32-bit build, so that an
// offset plus a length read from the file cannot wrap back into the bytes.
namespace {

constexpr uint32_t kDosMinimum = 0x40;
constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kCoffBytes = 24;  // "PE\0\0" and the file header
constexpr uint32_t kSectionBytes = 40;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kDirectoryBytes = 16;  // the header of one resource directory
constexpr uint32_t kEntryBytes = 8;
constexpr uint32_t kDataEntryBytes = 16;
constexpr uint32_t kHighBit = 0x80000000u;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool Inside(uint64_t size, uint64_t at, uint64_t length) { return at <= size && length <= size - at; }

// Bytes of text at `at`: at most `limit`, never past a NUL, the end or 255.
uint32_t TextLength(const uint8_t* bytes, uint64_t size, uint64_t at, uint64_t limit) {
  if (at >= size) return 0;
  if (limit > size - at) limit = size - at;
  if (limit > PIPL_TEXT_MAX) limit = PIPL_TEXT_MAX;
  const void* nul = memchr(bytes + at, 0, static_cast<size_t>(limit));
  return static_cast<uint32_t>(nul != nullptr ? static_cast<const uint8_t*>(nul) - (bytes + at) : limit);
}

struct PeImage {
  const uint8_t* bytes;
  uint64_t size;
  uint16_t machine;
  uint64_t sectionTable;  // file offset
  uint32_t sectionCount;
  uint32_t resourceRva;  // 0: no resource directory
  uint32_t lastSection;  // the section that mapped last is tried first
  // Steps taken and allowed: a directory entry, a section looked at or a
  // PiPL's properties. Trees that share no bytes stay far below the limit.
  uint64_t steps;
  uint64_t stepLimit;
};

// The headers up to the section table. False when the bytes hold no PE image.
bool ReadHeaders(const uint8_t* bytes, uint64_t size, PeImage* image) {
  memset(image, 0, sizeof(*image));
  image->bytes = bytes;
  image->size = size;
  image->machine = ReadPeMachine(bytes, static_cast<size_t>(size));
  if (image->machine == 0) return false;
  const uint64_t pe = U32(bytes + kPeOffsetField);
  if (!Inside(size, pe, kCoffBytes)) return false;
  const uint32_t sectionCount = U16(bytes + pe + 6);
  const uint32_t optionalBytes = U16(bytes + pe + 20);
  const uint64_t optional = pe + kCoffBytes;
  if (!Inside(size, optional, optionalBytes) || optionalBytes < 2) return false;
  // PE32 and PE32+ differ in where the data directories start.
  uint32_t countAt = 0;
  const uint16_t magic = U16(bytes + optional);
  if (magic == 0x10B) countAt = 92;
  else if (magic == 0x20B) countAt = 108;
  else return false;
  if (optionalBytes >= countAt + 4) {
    const uint32_t directories = U32(bytes + optional + countAt);
    const uint64_t resource = countAt + 4 + uint64_t{kResourceDirectoryIndex} * 8;
    if (directories > kResourceDirectoryIndex && optionalBytes >= resource + 8)
      image->resourceRva = U32(bytes + optional + resource);
  }
  image->sectionTable = optional + optionalBytes;
  image->sectionCount = sectionCount;
  if (!Inside(size, image->sectionTable, uint64_t{sectionCount} * kSectionBytes)) return false;
  image->stepLimit = size / 8 + 256;
  return true;
}

bool Step(PeImage* image, uint64_t n = 1) {
  image->steps += n;
  return image->steps <= image->stepLimit;
}

enum MapResult : int { MAP_OK, MAP_OUTSIDE, MAP_TOO_LONG };

// The file offset of [rva, rva + length), when all of it lies in the part of
// one section that the file holds (a section's tail beyond its raw data is
// zeros in memory, not bytes of the file).
MapResult MapRva(PeImage* image, uint64_t rva, uint64_t length, uint64_t* offset) {
  for (uint32_t k = 0; k < image->sectionCount; ++k) {
    if (!Step(image)) return MAP_TOO_LONG;
    const uint32_t i = (image->lastSection + k) % image->sectionCount;
    const uint8_t* s = image->bytes + image->sectionTable + uint64_t{i} * kSectionBytes;
    const uint64_t virtualSize = U32(s + 8), start = U32(s + 12), rawSize = U32(s + 16), rawAt = U32(s + 20);
    const uint64_t held = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
    if (rva < start || !Inside(held, rva - start, length)) continue;
    if (!Inside(image->size, rawAt + (rva - start), length)) return MAP_OUTSIDE;
    image->lastSection = i;
    *offset = rawAt + (rva - start);
    return MAP_OK;
  }
  return MAP_OUTSIDE;
}

PiplWalkEnd EndFor(MapResult r) { return r == MAP_TOO_LONG ? PIPL_WALK_LOOP : PIPL_WALK_OUTSIDE; }

// A directory's entry count and the file offset of its first entry; the
// entries must all lie inside.
struct Directory {
  uint32_t offset;  // from the root
  uint64_t entries;
  uint64_t count;
};

MapResult ReadDirectory(PeImage* image, uint32_t offset, Directory* d) {
  uint64_t at = 0;
  MapResult r = MapRva(image, uint64_t{image->resourceRva} + offset, kDirectoryBytes, &at);
  if (r != MAP_OK) return r;
  const uint64_t count = uint64_t{U16(image->bytes + at + 12)} + U16(image->bytes + at + 14);
  uint64_t entries = 0;
  r = MapRva(image, uint64_t{image->resourceRva} + offset + kDirectoryBytes, count * kEntryBytes, &entries);
  if (r != MAP_OK) return r;
  *d = Directory{offset, entries, count};
  return MAP_OK;
}

// Whether a named entry's name is "PIPL", without regard to ASCII case, as
// FindResource matches it.
MapResult IsPiplName(PeImage* image, uint32_t nameField, bool* matches) {
  *matches = false;
  uint64_t at = 0;
  const uint64_t rva = uint64_t{image->resourceRva} + (nameField & ~kHighBit);
  MapResult r = MapRva(image, rva, 2, &at);
  if (r != MAP_OK) return r;
  if (U16(image->bytes + at) != 4) return MAP_OK;
  r = MapRva(image, rva, 2 + 4 * 2, &at);
  if (r != MAP_OK) return r;
  static const char kType[] = "PIPL";
  for (int k = 0; k < 4; ++k) {
    uint16_t c = U16(image->bytes + at + 2 + 2 * k);
    if (c >= 'a' && c <= 'z') c = static_cast<uint16_t>(c - 32);
    if (c != static_cast<uint8_t>(kType[k])) return MAP_OK;
  }
  *matches = true;
  return MAP_OK;
}

struct Walk {
  PeImage image;
  uint16_t machine;
  PiplPairSink sink;
  void* context;
  PiplModuleReport report;
  uint32_t counted;
};

// The first language of one PiPL id: its data, read and handed on.
PiplWalkEnd ReadOnePipl(Walk* w, const Directory& parent, uint32_t subdirectory) {
  PeImage* image = &w->image;
  // A subdirectory back to the root or to the PIPL directory would walk them again.
  if (subdirectory == 0 || subdirectory == parent.offset) return PIPL_WALK_LOOP;
  Directory languages;
  MapResult r = ReadDirectory(image, subdirectory, &languages);
  if (r != MAP_OK) return EndFor(r);
  // The same PiPL in other languages is the same plug-in: only the first counts.
  if (languages.count == 0) return PIPL_WALK_WHOLE;
  if (!Step(image)) return PIPL_WALK_LOOP;
  const uint32_t target = U32(image->bytes + languages.entries + 4);
  if ((target & kHighBit) != 0) {
    const uint32_t below = target & ~kHighBit;
    return below == 0 || below == parent.offset || below == subdirectory ? PIPL_WALK_LOOP : PIPL_WALK_MISPLACED;
  }
  uint64_t entry = 0;
  r = MapRva(image, uint64_t{image->resourceRva} + target, kDataEntryBytes, &entry);
  if (r != MAP_OK) return EndFor(r);
  const uint32_t dataRva = U32(image->bytes + entry), dataSize = U32(image->bytes + entry + 4);
  uint64_t data = 0;
  r = MapRva(image, dataRva, dataSize, &data);
  if (r != MAP_OK) return EndFor(r);
  // Each property takes at least a header's bytes.
  if (!Step(image, dataSize / PIPL_PROPERTY_HEADER_BYTES + 1)) return PIPL_WALK_LOOP;
  ++w->report.resources;
  PiplPair pair;
  if (ReadPiplProperties(image->bytes + data, dataSize, w->machine, &pair)) {
    ++w->report.pairs;
    w->counted += w->sink != nullptr ? (w->sink(w->context, &pair) != 0 ? 1u : 0u) : 1u;
  }
  return PIPL_WALK_WHOLE;
}

PiplWalkEnd WalkResources(Walk* w) {
  PeImage* image = &w->image;
  Directory root;
  MapResult r = ReadDirectory(image, 0, &root);
  if (r != MAP_OK) return EndFor(r);
  // Only the first type named PIPL: a module has one directory per type.
  for (uint64_t i = 0; i < root.count; ++i) {
    if (!Step(image)) return PIPL_WALK_LOOP;
    const uint8_t* e = image->bytes + root.entries + i * kEntryBytes;
    const uint32_t name = U32(e), target = U32(e + 4);
    if ((name & kHighBit) == 0) continue;
    bool pipl = false;
    r = IsPiplName(image, name, &pipl);
    if (r != MAP_OK) return EndFor(r);
    if (!pipl) continue;
    if ((target & kHighBit) == 0) return PIPL_WALK_MISPLACED;
    const uint32_t typeOffset = target & ~kHighBit;
    if (typeOffset == 0) return PIPL_WALK_LOOP;
    Directory ids;
    r = ReadDirectory(image, typeOffset, &ids);
    if (r != MAP_OK) return EndFor(r);
    for (uint64_t k = 0; k < ids.count; ++k) {
      if (!Step(image)) return PIPL_WALK_LOOP;
      const uint32_t below = U32(image->bytes + ids.entries + k * kEntryBytes + 4);
      if ((below & kHighBit) == 0) return PIPL_WALK_MISPLACED;
      const PiplWalkEnd end = ReadOnePipl(w, ids, below & ~kHighBit);
      if (end != PIPL_WALK_WHOLE) return end;
    }
    return PIPL_WALK_WHOLE;
  }
  return PIPL_WALK_WHOLE;
}

}  // namespace

uint16_t ReadPeMachine(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < kDosMinimum || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  const uint64_t pe = U32(bytes + kPeOffsetField);
  // The signature, then the machine field.
  if (!Inside(size, pe, 6)) return 0;
  const uint8_t* p = bytes + pe;
  if (p[0] != 'P' || p[1] != 'E' || p[2] != 0 || p[3] != 0) return 0;
  return U16(p + 4);
}

const uint8_t* PiplCodeSignature(uint16_t machine) {
  if (machine == PE_MACHINE_X64) return kPiplCode8664Signature;
  if (machine == PE_MACHINE_X86) return kPiplCodeWx86Signature;
  return nullptr;
}

int ReadPiplProperties(const uint8_t* pipl, size_t size, uint16_t machine, PiplPair* pair) {
  if (pair == nullptr) return 0;
  memset(pair, 0, sizeof(*pair));
  const uint8_t* code = PiplCodeSignature(machine);
  // Resource sizes are 32-bit; nothing larger comes from a directory.
  const uint64_t wide = size;
  if (pipl == nullptr || code == nullptr || size < PIPL_HEADER_BYTES || (wide >> 32) != 0) return 0;
  const uint64_t end = size;
  // The leading word and the version are not looked at.
  const uint32_t count = U32(pipl + PIPL_COUNT_OFFSET);
  PiplPair found;
  memset(&found, 0, sizeof(found));
  bool haveName = false, haveCode = false;
  uint64_t at = PIPL_HEADER_BYTES;
  for (uint32_t k = 0; k < count; ++k) {
    // A count or a length that runs past the end spoils the whole PiPL.
    if (!Inside(end, at, PIPL_PROPERTY_HEADER_BYTES)) return 0;
    const uint64_t length = U32(pipl + at + PIPL_LENGTH_OFFSET);
    const uint64_t data = at + PIPL_PROPERTY_HEADER_BYTES;
    if (!Inside(end, data, length)) return 0;
    if (!haveName && memcmp(pipl + at, kPiplNameSignature, PIPL_SIGNATURE_BYTES) == 0) {
      haveName = true;
      // A length byte, then that many bytes, never past the property's end.
      if (length > 0) {
        const uint64_t limit = pipl[data] < length - 1 ? pipl[data] : length - 1;
        found.name = pipl + data + 1;
        found.nameLength = TextLength(pipl, end, data + 1, limit);
      }
    } else if (!haveCode && memcmp(pipl + at, code, PIPL_SIGNATURE_BYTES) == 0) {
      haveCode = true;
      found.entryPoint = pipl + data;
      found.entryPointLength = TextLength(pipl, end, data, length);
    }
    // Lengths are stated with or without the padding; both land here.
    at = data + ((length + 3) & ~uint64_t{3});
  }
  if (found.nameLength == 0 || found.entryPointLength == 0) return 0;
  found.pipl = pipl;
  found.piplSize = static_cast<uint32_t>(size);
  *pair = found;
  return 1;
}

uint32_t ReadModulePipls(const uint8_t* bytes, size_t size, uint16_t machine, PiplPairSink sink, void* context,
                         PiplModuleReport* report) {
  Walk w;
  memset(&w, 0, sizeof(w));
  w.machine = machine;
  w.sink = sink;
  w.context = context;
  if (!ReadHeaders(bytes, size, &w.image)) {
    w.report.machine = w.image.machine;
    w.report.status = PIPL_NOT_A_MODULE;
  } else {
    w.report.machine = w.image.machine;
    if (w.image.machine != machine) w.report.status = PIPL_OTHER_PROCESSOR;
    else if (w.image.resourceRva != 0) w.report.walkEnd = WalkResources(&w);
  }
  if (report != nullptr) *report = w.report;
  return w.counted;
}
