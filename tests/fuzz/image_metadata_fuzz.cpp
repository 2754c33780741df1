// Fuzz target for the metadata the tool reads from image files it is given:
// the PNG chunk walk (pHYs, iCCP, sRGB, gAMA, cHRM, tEXt, zTXt, iTXt), the
// JPEG segment walk (JFIF density, split ICC profiles) and the BMP header.
// Any bytes, read as they come and, so that mutations reach the chunk walk,
// also behind a PNG signature and IHDR. Then the chunks kept are written
// again with their CRCs and read back: they must come back the same, and
// nothing is refused the second time.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "editor/cli/image_metadata.h"
#include "editor/cli/png_chunks.h"

namespace {

[[noreturn]] void Fail(const char* what, size_t expected, size_t got) {
  fprintf(stderr, "image_metadata_fuzz: %s: expected %zu, got %zu\n", what, expected, got);
  abort();
}

const uint8_t kHeader[8 + 25] = {0x89, 'P', 'N',  'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
                                 0,    0,   1,    0,   0,    0,    1,    8,    0, 0, 0, 0,  0,   0,   0,   0};

void RoundTrip(const PngFacts& facts) {
  std::vector<uint8_t> png(kHeader, kHeader + sizeof(kHeader));
  std::vector<uint8_t> before, after;
  if (facts.hasPhys) {
    std::vector<uint8_t> phys = PhysChunkData(facts.physX, facts.physY, facts.physUnit);
    if (!AppendPngChunk(&before, "pHYs", phys.data(), phys.size())) Fail("pHYs append", 1, 0);
  }
  for (const PngChunk& c : facts.carried)
    if (!AppendPngChunk(c.afterImage ? &after : &before, c.type, c.data.data(), c.data.size()))
      Fail("append", 1, 0);
  png.insert(png.end(), before.begin(), before.end());
  const uint8_t idat[12] = {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xAF, 0x06, 0x1E};
  png.insert(png.end(), idat, idat + sizeof(idat));
  png.insert(png.end(), after.begin(), after.end());
  AppendPngChunk(&png, "IEND", nullptr, 0);
  PngFacts again;
  if (!ReadPngChunks(png.data(), png.size(), &again)) Fail("read back", 1, 0);
  if (again.refused != 0) Fail("refused on reading back", 0, again.refused);
  if (again.hasPhys != facts.hasPhys || again.physX != facts.physX || again.physY != facts.physY ||
      again.physUnit != facts.physUnit)
    Fail("pHYs read back", facts.physX, again.physX);
  if (again.carried.size() != facts.carried.size()) Fail("chunks read back", facts.carried.size(), again.carried.size());
  for (size_t i = 0; i < facts.carried.size(); ++i) {
    const PngChunk &a = facts.carried[i], &b = again.carried[i];
    if (memcmp(a.type, b.type, 4) != 0 || a.data != b.data || a.afterImage != b.afterImage)
      Fail("chunk read back differs", i, i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ImageMetadata metadata;
  ReadImageMetadata(data, size, &metadata);
  double x = 0, y = 0;
  ResolutionDpi(metadata.resolution, &x, &y);
  if (!(x > 0.0 && x <= MAX_FILTER_DPI && y > 0.0 && y <= MAX_FILTER_DPI)) Fail("dpi out of range", 1, 0);
  uint32_t px = 0, py = 0;
  ResolutionPerMetre(metadata.resolution, &px, &py);
  IccProfileSpace(metadata.iccProfile.data(), metadata.iccProfile.size());
  for (const PngChunk& c : metadata.pngChunks) {
    size_t offset = 0, length = 0;
    if (memcmp(c.type, "iCCP", 4) == 0 && !IccpCompressedProfile(c.data, &offset, &length))
      Fail("a carried iCCP without a profile", 1, 0);
  }

  std::vector<uint8_t> png(kHeader, kHeader + sizeof(kHeader));
  png.insert(png.end(), data, data + size);
  PngFacts facts;
  if (!ReadPngChunks(png.data(), png.size(), &facts)) Fail("a PNG header refused", 1, 0);
  RoundTrip(facts);
  return 0;
}
