#include "editor/cli/image_codec.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "editor/cli/pixel_order.h"

// Debian's single-header image library; only the in-memory entry points are
// used, so that paths stay UTF-16 and every write goes through our atomic one.
#define STBI_NO_STDIO
// Only the formats a person is likely to feed the tool: less decoder code
// facing untrusted files, and a headerless format like TGA cannot take junk.
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

// The decoded pixels, released however the function that holds them ends.
struct StbPixels {
  void* pixels = nullptr;
  ~StbPixels() { stbi_image_free(pixels); }
};

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size);
}

// Colour profiles in use stay well below this; a larger one is carried
// without a look inside.
constexpr int kProfileLookLimit = 4 << 20;

IccSpace IccpChunkSpace(const PngChunk& chunk) {
  size_t offset = 0, length = 0;
  if (!IccpCompressedProfile(chunk.data, &offset, &length) || length > static_cast<size_t>(INT_MAX))
    return ICC_SPACE_UNKNOWN;
  std::vector<char> profile;
  try {
    profile.resize(kProfileLookLimit);
  } catch (const std::bad_alloc&) {
    return ICC_SPACE_UNKNOWN;
  }
  int n = stbi_zlib_decode_buffer(profile.data(), kProfileLookLimit,
                                  reinterpret_cast<const char*>(chunk.data.data() + offset), static_cast<int>(length));
  if (n < 0) return ICC_SPACE_UNKNOWN;
  return IccProfileSpace(reinterpret_cast<const uint8_t*>(profile.data()), static_cast<size_t>(n));
}

std::string ChunkName(const char type[4]) { return std::string(type, 4); }

// The resolution, the profile and the carried chunks, placed around the
// image data of a PNG the encoder wrote. `channels` is what it wrote.
int AddPngMetadata(const RasterImage& image, int channels, std::vector<uint8_t>* png,
                   std::vector<std::string>* notes) {
  const ImageMetadata& m = image.metadata;
  std::vector<uint8_t> before, after;
  uint32_t x = 0, y = 0;
  if (m.resolution.unit == RESOLUTION_ASPECT && m.resolution.x <= MAX_PNG_CHUNK_BYTES &&
      m.resolution.y <= MAX_PNG_CHUNK_BYTES) {
    std::vector<uint8_t> phys = PhysChunkData(m.resolution.x, m.resolution.y, PNG_UNIT_ASPECT);
    AppendPngChunk(&before, "pHYs", phys.data(), phys.size());
  } else if (ResolutionPerMetre(m.resolution, &x, &y)) {
    std::vector<uint8_t> phys = PhysChunkData(x, y, PNG_UNIT_METRE);
    AppendPngChunk(&before, "pHYs", phys.data(), phys.size());
  }
  // A grey profile cannot describe colour pixels: a reader would refuse it
  // or misread the colours.
  bool greyBecameColour = image.channels <= 2 && channels >= 3;
  const char* kGreyProfileNote = "the grey colour profile was left out: the filtered image is in colour";
  for (const PngChunk& c : m.pngChunks) {
    if (memcmp(c.type, "iCCP", 4) == 0 && greyBecameColour && IccpChunkSpace(c) == ICC_SPACE_GREY) {
      if (notes != nullptr) notes->push_back(kGreyProfileNote);
      continue;
    }
    AppendPngChunk(c.afterImage ? &after : &before, c.type, c.data.data(), c.data.size());
  }
  if (!m.iccProfile.empty()) {
    if (greyBecameColour && IccProfileSpace(m.iccProfile.data(), m.iccProfile.size()) == ICC_SPACE_GREY) {
      if (notes != nullptr) notes->push_back(kGreyProfileNote);
    } else if (m.iccProfile.size() <= static_cast<size_t>(INT_MAX)) {
      int packed = 0;
      unsigned char* z = stbi_zlib_compress(const_cast<unsigned char*>(m.iccProfile.data()),
                                            static_cast<int>(m.iccProfile.size()), &packed, 8);
      if (z == nullptr) return 0;
      static const char kName[] = "ICC profile";  // name, its terminator, method 0
      std::vector<uint8_t> body(kName, kName + sizeof(kName));
      body.push_back(0);
      body.insert(body.end(), z, z + packed);
      STBIW_FREE(z);
      AppendPngChunk(&before, "iCCP", body.data(), body.size());
    }
  }
  return InsertPngChunks(png, before, after);
}

// A BMP holds a resolution in its header and nothing else of the metadata.
int AddBmpMetadata(const RasterImage& image, std::vector<uint8_t>* bmp, std::vector<std::string>* notes) {
  const ImageMetadata& m = image.metadata;
  uint32_t x = 0, y = 0;
  if (ResolutionPerMetre(m.resolution, &x, &y)) {
    // The encoder's info header is at least 40 bytes: pixels per metre at file offsets 38 and 42.
    if (bmp->size() < 54 || (*bmp)[14] < 40) return 0;
    for (int i = 0; i < 4; ++i) {
      (*bmp)[38 + i] = static_cast<uint8_t>(x >> (8 * i));
      (*bmp)[42 + i] = static_cast<uint8_t>(y >> (8 * i));
    }
  }
  if (notes != nullptr && (!m.pngChunks.empty() || !m.iccProfile.empty())) {
    std::string names;
    for (const PngChunk& c : m.pngChunks)
      if (names.find(ChunkName(c.type)) == std::string::npos) names += (names.empty() ? "" : ", ") + ChunkName(c.type);
    if (!m.iccProfile.empty()) names += std::string(names.empty() ? "" : ", ") + "colour profile";
    notes->push_back("a BMP keeps no colour profile or text; left out: " + names);
  }
  return 1;
}

}  // namespace

int DecodeImage(const uint8_t* bytes, size_t length, RasterImage* image, std::string* error) {
  *image = RasterImage();
  if (bytes == nullptr || length == 0) {
    *error = "the file is empty";
    return 0;
  }
  if (length > static_cast<size_t>(INT_MAX)) {
    *error = "the file is too large";
    return 0;
  }
  int w = 0, h = 0, channels = 0;
  int n = static_cast<int>(length);
  if (!stbi_info_from_memory(bytes, n, &w, &h, &channels)) {
    *error = std::string("not a readable image (") + stbi_failure_reason() + ")";
    return 0;
  }
  uint64_t pixelBytes = static_cast<uint64_t>(static_cast<uint32_t>(w)) * static_cast<uint32_t>(h) * 4;
  if (w <= 0 || h <= 0 || pixelBytes > MAX_IMAGE_PIXEL_BYTES) {
    *error = "the image is too large (" + std::to_string(w) + " x " + std::to_string(h) + ")";
    return 0;
  }
  // In the file's own channels, so that a grey file costs a quarter of the
  // memory on the way and the tool knows what to write back.
  bool sixteen = stbi_is_16_bit_from_memory(bytes, n) != 0;
  StbPixels decoded;
  decoded.pixels = sixteen ? static_cast<void*>(stbi_load_16_from_memory(bytes, n, &w, &h, &channels, 0))
                           : static_cast<void*>(stbi_load_from_memory(bytes, n, &w, &h, &channels, 0));
  if (decoded.pixels == nullptr || channels < 1 || channels > 4) {
    *error = std::string("not a readable image (") + stbi_failure_reason() + ")";
    return 0;
  }
  size_t count = static_cast<size_t>(pixelBytes / 4);
  auto* samples = static_cast<uint8_t*>(decoded.pixels);
  // The server works in 8 bits: nearest 8-bit value, in place.
  if (sixteen) NarrowSamples(samples, count * static_cast<size_t>(channels), samples);
  try {
    image->bgra.resize(static_cast<size_t>(pixelBytes));
  } catch (const std::bad_alloc&) {
    *error = "out of memory for the image";
    return 0;
  }
  ExpandToBgra(samples, channels, count, image->bgra.data());
  image->width = static_cast<uint32_t>(w);
  image->height = static_cast<uint32_t>(h);
  image->channels = channels;
  image->bitsPerChannel = sixteen ? 16 : 8;
  ReadImageMetadata(bytes, length, &image->metadata);
  return 1;
}

int EncodeImage(const RasterImage& image, ImageFileType type, std::vector<uint8_t>* bytes, std::string* error,
                std::vector<std::string>* notes) {
  bytes->clear();
  uint64_t pixelBytes = static_cast<uint64_t>(image.width) * image.height * 4;
  if (image.width == 0 || image.height == 0 || image.width > INT_MAX / 4 || image.height > INT_MAX ||
      pixelBytes > MAX_IMAGE_PIXEL_BYTES || image.bgra.size() < pixelBytes) {
    *error = "no image to write";
    return 0;
  }
  if (type != IMAGE_FILE_PNG && type != IMAGE_FILE_BMP) {
    *error = "the output must end in .png or .bmp";
    return 0;
  }
  size_t count = static_cast<size_t>(pixelBytes / 4);
  int keep = ChannelsToKeep(image.bgra.data(), count, image.channels);
  // The BMP encoder writes 24 bits, or 32 with alpha; grey becomes colour there.
  int written = type == IMAGE_FILE_PNG ? keep : keep % 2 == 0 ? 4 : 3;
  int ok = 0;
  try {
    std::vector<uint8_t> packed(count * static_cast<size_t>(written));
    PackFromBgra(image.bgra.data(), count, written, packed.data());
    int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
    ok = type == IMAGE_FILE_PNG ? stbi_write_png_to_func(AppendBytes, bytes, w, h, written, packed.data(), w * written)
                                : stbi_write_bmp_to_func(AppendBytes, bytes, w, h, written, packed.data());
    std::vector<uint8_t>().swap(packed);
    if (ok && type == IMAGE_FILE_PNG) ok = AddPngMetadata(image, written, bytes, notes);
    if (ok && type == IMAGE_FILE_BMP) ok = AddBmpMetadata(image, bytes, notes);
  } catch (const std::bad_alloc&) {
    ok = 0;
  }
  if (!ok) {
    bytes->clear();
    *error = "the image could not be encoded";
    return 0;
  }
  return 1;
}
