#include "editor/cli/image_codec.h"

#include <climits>
#include <cstdlib>
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
  if (!stbi_info_from_memory(bytes, static_cast<int>(length), &w, &h, &channels)) {
    *error = std::string("not a readable image (") + stbi_failure_reason() + ")";
    return 0;
  }
  uint64_t pixelBytes = static_cast<uint64_t>(static_cast<uint32_t>(w)) * static_cast<uint32_t>(h) * 4;
  if (w <= 0 || h <= 0 || pixelBytes > MAX_IMAGE_PIXEL_BYTES) {
    *error = "the image is too large (" + std::to_string(w) + " x " + std::to_string(h) + ")";
    return 0;
  }
  stbi_uc* rgba = stbi_load_from_memory(bytes, static_cast<int>(length), &w, &h, &channels, 4);
  if (rgba == nullptr) {
    *error = std::string("not a readable image (") + stbi_failure_reason() + ")";
    return 0;
  }
  try {
    image->bgra.resize(static_cast<size_t>(pixelBytes));
  } catch (const std::bad_alloc&) {
    stbi_image_free(rgba);
    *error = "out of memory for the image";
    return 0;
  }
  image->width = static_cast<uint32_t>(w);
  image->height = static_cast<uint32_t>(h);
  RgbaToBgra(rgba, image->bgra.data(), static_cast<size_t>(pixelBytes / 4));
  stbi_image_free(rgba);
  return 1;
}

static void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size);
}

int EncodeImage(const RasterImage& image, ImageFileType type, std::vector<uint8_t>* bytes, std::string* error) {
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
  int ok = 0;
  try {
    std::vector<uint8_t> rgba(static_cast<size_t>(pixelBytes));
    BgraToRgba(image.bgra.data(), rgba.data(), static_cast<size_t>(pixelBytes / 4));
    int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
    ok = type == IMAGE_FILE_PNG ? stbi_write_png_to_func(AppendBytes, bytes, w, h, 4, rgba.data(), w * 4)
                                : stbi_write_bmp_to_func(AppendBytes, bytes, w, h, 4, rgba.data());
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
