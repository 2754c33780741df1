// What the command-line tool adds around a filter run: reordering pixels for
// the server and back, and the PNG codec, against memcpy of the same bytes.
#include <cstring>
#include <vector>

#include "bench/bench_util.h"
#include "editor/cli/image_codec.h"
#include "editor/cli/pixel_order.h"

int main() {
  // A 12-megapixel photo's worth of pixels.
  const uint32_t w = 4000, h = 3000;
  const size_t bytes = static_cast<size_t>(w) * h * 4;
  std::vector<uint8_t> source(bytes), target(bytes);
  for (size_t i = 0; i < bytes; ++i) source[i] = static_cast<uint8_t>(i * 31 + i / 4096);

  double swap = BestOf(5, [&] { RgbaToBgra(source.data(), target.data(), bytes / 4); });
  double inPlace = BestOf(5, [&] { SwapRedBlue(target.data(), target.data(), bytes / 4); });
  double copy = BestOf(5, [&] { memcpy(target.data(), source.data(), bytes); });
  Figure("cli_pixel_order_12mp", bytes / swap / 1e6, "MB/s");
  Figure("cli_pixel_order_in_place_12mp", bytes / inPlace / 1e6, "MB/s");
  Figure("memcpy_12mp", bytes / copy / 1e6, "MB/s");
  Figure("cli_pixel_order_vs_memcpy", copy / swap, "x");

  // PNG of a smooth 2-megapixel image, the kind a person feeds the tool.
  RasterImage image;
  image.width = 1600;
  image.height = 1200;
  image.bgra.resize(static_cast<size_t>(image.width) * image.height * 4);
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x) {
      uint8_t* p = &image.bgra[(static_cast<size_t>(y) * image.width + x) * 4];
      p[0] = static_cast<uint8_t>(x / 7);
      p[1] = static_cast<uint8_t>(y / 5);
      p[2] = static_cast<uint8_t>((x + y) / 11);
      p[3] = 255;
    }
  std::vector<uint8_t> png;
  std::string error;
  double encode = BestOf(3, [&] { EncodeImage(image, IMAGE_FILE_PNG, &png, &error); });
  RasterImage back;
  double decode = BestOf(3, [&] { DecodeImage(png.data(), png.size(), &back, &error); });
  double pixelBytes = static_cast<double>(image.bgra.size());
  Figure("cli_png_encode_2mp", pixelBytes / encode / 1e6, "MB/s");
  Figure("cli_png_decode_2mp", pixelBytes / decode / 1e6, "MB/s");
  Figure("cli_png_size_2mp", static_cast<double>(png.size()) / 1024.0, "KiB");
  return back.bgra == image.bgra ? 0 : 1;
}
