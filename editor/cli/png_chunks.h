// PNG chunks the pixel codec does not keep: read from a file's bytes so the
// tool can carry them into what it writes, and written with their CRCs.
// No file system, no decompression: buffers in, buffers out.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The longest chunk a PNG may hold (the length field is 31 bits).
constexpr uint32_t MAX_PNG_CHUNK_BYTES = 0x7FFFFFFFu;

struct PngChunk {
  char type[4];
  std::vector<uint8_t> data;
  bool afterImage = false;  // stood after the image data
};

// pHYs: pixels per unit on each axis; unit 1 is the metre, 0 only an aspect ratio.
constexpr uint8_t PNG_UNIT_ASPECT = 0;
constexpr uint8_t PNG_UNIT_METRE = 1;

struct PngFacts {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t bitDepth = 0;
  uint8_t colourType = 0;
  bool hasPhys = false;
  uint32_t physX = 0;
  uint32_t physY = 0;
  uint8_t physUnit = 0;
  // The chunks the tool carries over, in file order: the colour profile and
  // colour space chunks (iCCP, sRGB, gAMA, cHRM) and the text chunks (tEXt,
  // zTXt, iTXt). pHYs is read into the fields above instead.
  std::vector<PngChunk> carried;
  // Ancillary chunks left behind: a wrong CRC, a malformed body, or a second
  // one of a kind a file may hold only once.
  uint32_t refused = 0;
};

// The CRC-32 of PNG (and zlib): polynomial 0xEDB88320, start and end inverted.
uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0);

// Walks the chunks of a PNG file up to IEND or the end of the bytes. Answers
// 1 with *facts filled when the bytes start with the signature and an IHDR
// chunk; 0 otherwise. A chunk that runs past the end stops the walk; what was
// read before it stays.
int ReadPngChunks(const uint8_t* bytes, size_t length, PngFacts* facts);

// Appends one chunk (length, type, data, CRC). Answers 0 and appends nothing
// when the data is too long for a chunk.
int AppendPngChunk(std::vector<uint8_t>* out, const char type[4], const uint8_t* data, size_t length);

// The 9 bytes of a pHYs chunk.
std::vector<uint8_t> PhysChunkData(uint32_t x, uint32_t y, uint8_t unit);

// The profile's name and compressed bytes inside an iCCP chunk's data.
// Answers 0 when the data is not laid out as an iCCP chunk's.
int IccpCompressedProfile(const std::vector<uint8_t>& data, size_t* offset, size_t* length);

// Puts `before` (whole chunks) right after IHDR and `after` right before
// IEND in a PNG that starts with signature and IHDR and ends with IEND, as an
// encoder writes it. Answers 0 and changes nothing when `png` is not so laid out.
int InsertPngChunks(std::vector<uint8_t>* png, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after);
