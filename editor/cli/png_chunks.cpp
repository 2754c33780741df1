#include "editor/cli/png_chunks.h"

#include <array>
#include <cstring>

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

void PutBe32(std::vector<uint8_t>* out, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v)};
  out->insert(out->end(), b, b + 4);
}

bool IsType(const uint8_t* type, const char* name) { return memcmp(type, name, 4) == 0; }

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A keyword of 1 to 79 bytes and its terminator at the start of `data`;
// answers the offset just past the terminator, or 0.
size_t KeywordEnd(const uint8_t* data, size_t length) {
  size_t limit = length < 80 ? length : 80;
  for (size_t i = 0; i < limit; ++i)
    if (data[i] == 0) return i == 0 ? 0 : i + 1;
  return 0;
}

// Where in a file a carried chunk may stand, how long its body is, and
// whether a file may hold more than one of it.
struct CarriedRow {
  const char* type;
  uint32_t exactLength;  // 0: any
  bool once;
  bool beforeImageOnly;
};

const CarriedRow kCarried[] = {
    {"iCCP", 0, true, true},  {"sRGB", 1, true, true},  {"gAMA", 4, true, true},  {"cHRM", 32, true, true},
    {"tEXt", 0, false, false}, {"zTXt", 0, false, false}, {"iTXt", 0, false, false},
};

// The body checks that keep a carried chunk from being written malformed.
bool BodyIsSound(const uint8_t* type, const uint8_t* data, size_t length) {
  if (IsType(type, "sRGB")) return data[0] <= 3;
  if (IsType(type, "gAMA")) return Be32(data) != 0;
  if (IsType(type, "tEXt")) return KeywordEnd(data, length) != 0;
  size_t at = KeywordEnd(data, length);
  // Method 0 and at least one compressed byte.
  if (IsType(type, "iCCP") || IsType(type, "zTXt")) return at != 0 && at + 1 < length && data[at] == 0;
  if (IsType(type, "iTXt")) {
    // Keyword, compression flag (0 or 1), method 0, language tag and
    // translated keyword, each ending in a zero byte.
    if (at == 0 || at + 2 > length || data[at] > 1 || data[at + 1] != 0) return false;
    const uint8_t* rest = data + at + 2;
    size_t left = length - at - 2;
    const void* tagEnd = memchr(rest, 0, left);
    if (tagEnd == nullptr) return false;
    size_t tag = static_cast<const uint8_t*>(tagEnd) - rest + 1;
    return memchr(rest + tag, 0, left - tag) != nullptr;
  }
  return true;
}

}  // namespace

uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

int ReadPngChunks(const uint8_t* bytes, size_t length, PngFacts* facts) {
  *facts = PngFacts();
  if (bytes == nullptr || length < 8 + 25 || memcmp(bytes, kPngSignature, 8) != 0) return 0;
  if (Be32(bytes + 8) != 13 || !IsType(bytes + 12, "IHDR")) return 0;
  facts->width = Be32(bytes + 16);
  facts->height = Be32(bytes + 20);
  facts->bitDepth = bytes[24];
  facts->colourType = bytes[25];
  bool seen[sizeof(kCarried) / sizeof(kCarried[0])] = {};
  bool physSeen = false, afterImage = false;
  uint64_t at = 8 + 25;
  while (at + 12 <= length) {
    uint32_t bodyLength = Be32(bytes + at);
    const uint8_t* type = bytes + at + 4;
    if (bodyLength > MAX_PNG_CHUNK_BYTES || at + 12 + bodyLength > length) break;
    if (!IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) || !IsLetter(type[3])) break;
    const uint8_t* data = type + 4;
    uint64_t next = at + 12 + bodyLength;
    at = next;
    if (IsType(type, "IEND")) break;
    if (IsType(type, "IDAT")) {
      afterImage = true;
      continue;
    }
    bool ancillary = (type[0] & 0x20) != 0;
    if (!ancillary) continue;
    bool crcGood = Crc32(type, 4 + static_cast<size_t>(bodyLength)) == Be32(data + bodyLength);
    if (IsType(type, "pHYs")) {
      if (!crcGood || bodyLength != 9 || physSeen || afterImage || data[8] > PNG_UNIT_METRE || Be32(data) == 0 ||
          Be32(data + 4) == 0 || Be32(data) > 0x7FFFFFFFu || Be32(data + 4) > 0x7FFFFFFFu) {
        ++facts->refused;
        continue;
      }
      physSeen = facts->hasPhys = true;
      facts->physX = Be32(data);
      facts->physY = Be32(data + 4);
      facts->physUnit = data[8];
      continue;
    }
    for (size_t row = 0; row < sizeof(kCarried) / sizeof(kCarried[0]); ++row) {
      const CarriedRow& r = kCarried[row];
      if (!IsType(type, r.type)) continue;
      if (!crcGood || (r.exactLength != 0 && bodyLength != r.exactLength) || bodyLength == 0 ||
          (r.once && seen[row]) || (r.beforeImageOnly && afterImage) || !BodyIsSound(type, data, bodyLength)) {
        ++facts->refused;
        break;
      }
      seen[row] = true;
      PngChunk chunk;
      memcpy(chunk.type, type, 4);
      chunk.data.assign(data, data + bodyLength);
      chunk.afterImage = afterImage;
      facts->carried.push_back(std::move(chunk));
      break;
    }
  }
  return 1;
}

int AppendPngChunk(std::vector<uint8_t>* out, const char type[4], const uint8_t* data, size_t length) {
  if (length > MAX_PNG_CHUNK_BYTES) return 0;
  PutBe32(out, static_cast<uint32_t>(length));
  size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  if (length > 0) out->insert(out->end(), data, data + length);
  PutBe32(out, Crc32(out->data() + start, 4 + length));
  return 1;
}

std::vector<uint8_t> PhysChunkData(uint32_t x, uint32_t y, uint8_t unit) {
  std::vector<uint8_t> data;
  PutBe32(&data, x);
  PutBe32(&data, y);
  data.push_back(unit);
  return data;
}

int IccpCompressedProfile(const std::vector<uint8_t>& data, size_t* offset, size_t* length) {
  size_t at = KeywordEnd(data.data(), data.size());
  if (at == 0 || at + 1 >= data.size() || data[at] != 0) return 0;
  *offset = at + 1;
  *length = data.size() - at - 1;
  return 1;
}

int InsertPngChunks(std::vector<uint8_t>* png, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  const uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  std::vector<uint8_t>& p = *png;
  if (p.size() < 8 + 25 + 12 || memcmp(p.data(), kPngSignature, 8) != 0 || Be32(p.data() + 8) != 13 ||
      !IsType(p.data() + 12, "IHDR") || memcmp(p.data() + p.size() - 12, kEnd, 12) != 0)
    return 0;
  p.insert(p.end() - 12, after.begin(), after.end());
  p.insert(p.begin() + 8 + 25, before.begin(), before.end());
  return 1;
}
