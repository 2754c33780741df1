// Fuzz target for the tile arithmetic of advanceState. For any rectangle,
// planes, depth and layout it checks the layout against exact 128-bit sums
// (the last sample ends inside the total, oversized strides are refused rather
// than wrapped), the padded and rounded block sizes, and then fills a tile
// allocated with exactly the computed total from a small image, padding what
// lies outside it, and stores it back: ASan catches a move outside the tile or
// the image, every tile byte must be what the padding asks for, and the round
// trip must give back the clamped area's planes and leave every other byte
// alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/tile_layout.h"

namespace {

using Wide = __int128;

// Tiles larger than this are checked by arithmetic only.
constexpr uint64_t kMaxTileBytes = 1u << 22;

[[noreturn]] void Fail(const char* what, Wide expected, Wide got) {
  fprintf(stderr, "tile_layout_fuzz: %s: expected %lld, got %lld\n", what, static_cast<long long>(expected),
          static_cast<long long>(got));
  abort();
}

struct Request {
  int16_t wantLayout;
  int32_t depth, left, top, right, bottom, loPlane, hiPlane, pad;
  uint32_t imageWidth, imageHeight, pitch;
};

// Mostly rectangles and planes near a small image, sometimes anything at all.
Request ReadRequest(FuzzedDataProvider& in) {
  Request r{};
  const uint8_t mode = in.ConsumeIntegral<uint8_t>();
  const bool wild = (mode & 3) == 0;
  r.wantLayout = (mode & 4) ? in.ConsumeIntegral<int16_t>() : in.ConsumeIntegralInRange<int16_t>(0, 8);
  r.depth = (mode & 8) ? in.ConsumeIntegral<int32_t>() : in.PickValueInArray({1, 8, 16, 32});
  r.imageWidth = in.ConsumeIntegralInRange<uint32_t>(0, 72);
  r.imageHeight = in.ConsumeIntegralInRange<uint32_t>(0, 72);
  r.pitch = r.imageWidth + in.ConsumeIntegralInRange<uint32_t>(0, 5);
  auto coordinate = [&] { return wild ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange<int32_t>(-20, 90); };
  auto plane = [&] { return wild ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange<int32_t>(-3, 6); };
  r.left = coordinate();
  r.top = coordinate();
  r.right = coordinate();
  r.bottom = coordinate();
  r.loPlane = plane();
  r.hiPlane = plane();
  r.pad = (mode & 16) ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange<int32_t>(-4, 260);
  // advanceState puts the rectangle in order before it computes a layout.
  if ((mode & 32) == 0) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
  }
  return r;
}

void CheckLayout(const Request& r, TileLayoutResult result, const TileLayout& t) {
  const int16_t l = r.wantLayout;
  if (l == 2 || l == 3 || l == 4 || l == 6) {
    if (result != TILE_LAYOUT_REFUSED) Fail("result for a refused layout", TILE_LAYOUT_REFUSED, result);
    return;
  }
  const Wide b = r.depth >= 25 ? 4 : (r.depth <= 8 ? 1 : (static_cast<Wide>(r.depth) + 7) / 8);
  const Wide w = static_cast<Wide>(r.right) - r.left, h = static_cast<Wide>(r.bottom) - r.top;
  const Wide n = static_cast<Wide>(r.hiPlane) - r.loPlane + 1;
  const bool empty = w <= 0 || h <= 0 || n <= 0;
  const Wide column = l == 5 ? b : b * n, plane = l == 5 ? b * h * w : b, row = l == 5 ? b * w : b * n * w;
  const bool tooLarge = !empty && (column > INT32_MAX || plane > INT32_MAX || row > INT32_MAX);
  if (tooLarge) {
    if (result != TILE_LAYOUT_TOO_LARGE) Fail("result for strides beyond 32 bits", TILE_LAYOUT_TOO_LARGE, result);
    return;
  }
  if (result != TILE_LAYOUT_OK) Fail("result", TILE_LAYOUT_OK, result);
  if (empty) {
    if (t.total != 0) Fail("total of an empty tile", 0, t.total);
    return;
  }
  if (t.columnBytes != column) Fail("columnBytes", column, t.columnBytes);
  if (t.planeBytes != plane) Fail("planeBytes", plane, t.planeBytes);
  if (t.rowBytes != row) Fail("rowBytes", row, t.rowBytes);
  if (static_cast<Wide>(t.total) != b * n * h * w) Fail("total", b * n * h * w, t.total);
  const Wide lastByte = (h - 1) * row + (w - 1) * column + (n - 1) * plane + (b - 1);
  if (lastByte >= static_cast<Wide>(t.total)) Fail("last sample byte inside the total", t.total - 1, lastByte);
}

void CheckBlockSizes(const TileLayout& t, int32_t pad) {
  const uint64_t s = TileBytesWithPadding(t, pad);
  const Wide rows = t.height < 0 ? -static_cast<Wide>(t.height + 1) : static_cast<Wide>(t.height) + 1;
  const Wide magnitude = pad < 0 ? -static_cast<Wide>(pad) : pad;
  const Wide exact = static_cast<Wide>(t.total) + 2 * rows * magnitude * t.bytesPerSample * t.planes;
  if (s != 0 && static_cast<Wide>(s) != exact) Fail("bytes with padding", exact, s);
  // Zero only for sums beyond a quarter of the 64-bit range.
  if (s == 0 && exact != 0 && exact <= static_cast<Wide>(UINT64_MAX / 4)) Fail("bytes with padding", exact, 0);
  const uint64_t a = TileAllocationSize(s);
  if (a == 0) {
    if (s <= UINT64_MAX / 2) Fail("allocation size refused", s, 0);
    return;
  }
  if (a % 65536 != 0 || a < s) Fail("allocation size, a multiple of 65536 not below", s, a);
  if (!TileBlockReusable(a, a)) Fail("a block reusable for its own size", 1, 0);
}

// Fill a tile of exactly the layout's total with the request's padding, check
// every byte of it, then store it into a scrambled copy of the image.
void RoundTrip(FuzzedDataProvider& in, const Request& r, const TileLayout& t) {
  if (t.total == 0 || t.total > kMaxTileBytes) return;
  const uint64_t imageBytes = static_cast<uint64_t>(r.pitch) * r.imageHeight * 4;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[imageBytes + 1]);
  std::unique_ptr<uint8_t[]> stored(new uint8_t[imageBytes + 1]);
  std::unique_ptr<uint8_t[]> tile(new uint8_t[t.total]);
  std::unique_ptr<uint8_t[]> expected(new uint8_t[t.total]);
  const uint8_t seed = in.ConsumeIntegral<uint8_t>();
  for (uint64_t i = 0; i < imageBytes; ++i) {
    pixels[i] = static_cast<uint8_t>(i * 31 + seed);
    stored[i] = static_cast<uint8_t>(pixels[i] ^ 0x5A);
  }
  memset(tile.get(), 0xCD, t.total);
  memset(expected.get(), 0xCD, t.total);

  const TileClamp a = ClampTile(r.left, r.top, r.right, r.bottom, r.loPlane, r.hiPlane, r.imageWidth, r.imageHeight);
  const TileImage image{pixels.get(), r.pitch, r.imageWidth, r.imageHeight};
  FillTile(image, r.left, r.top, r.right, r.bottom, r.loPlane, r.hiPlane, tile.get(), t, r.pad);

  // What each sample should hold: image pixel (x, y) at tile (x - left,
  // y - top); outside the image the pad byte, the nearest pixel, or nothing.
  const bool edge = r.pad == TILE_PAD_EDGE && r.imageWidth > 0 && r.imageHeight > 0;
  const bool value = r.pad >= 0 && r.pad <= 255;
  for (int64_t y = r.top; y < r.bottom; ++y) {
    for (int64_t x = r.left; x < r.right; ++x) {
      const bool inImage = x >= 0 && y >= 0 && x < r.imageWidth && y < r.imageHeight;
      if (!inImage && !edge && !value) continue;
      const int64_t sx = std::clamp<int64_t>(x, 0, static_cast<int64_t>(r.imageWidth) - 1);
      const int64_t sy = std::clamp<int64_t>(y, 0, static_cast<int64_t>(r.imageHeight) - 1);
      for (int p = a.p0; p <= a.p1; ++p) {
        const uint64_t at = static_cast<uint64_t>((y - r.top) * t.rowBytes + (x - r.left) * t.columnBytes +
                                                  static_cast<int64_t>(p - a.p0) * t.planeBytes);
        uint8_t v = static_cast<uint8_t>(r.pad);
        if (inImage || edge) {
          v = pixels[(static_cast<uint64_t>(sy) * r.pitch + static_cast<uint64_t>(sx)) * 4 + kPlaneByte[p]];
          if (p == 3) v = static_cast<uint8_t>(255 - v);
        }
        expected[at] = v;
      }
    }
  }
  for (uint64_t i = 0; i < t.total; ++i)
    if (tile[i] != expected[i]) Fail("tile byte", expected[i], tile[i]);

  StoreTileToPixels(stored.get(), r.pitch, a, tile.get(), t.rowBytes, t.columnBytes, t.planeBytes, r.left, r.top, a.p0);
  for (uint32_t y = 0; y < r.imageHeight; ++y) {
    for (uint32_t x = 0; x < r.pitch; ++x) {
      for (int p = 0; p < 4; ++p) {
        const uint64_t at = (static_cast<uint64_t>(y) * r.pitch + x) * 4 + kPlaneByte[p];
        const bool moved = static_cast<int32_t>(x) >= a.x0 && static_cast<int32_t>(x) < a.x1 &&
                           static_cast<int32_t>(y) >= a.y0 && static_cast<int32_t>(y) < a.y1 && p >= a.p0 && p <= a.p1;
        const uint8_t want = moved ? pixels[at] : static_cast<uint8_t>(pixels[at] ^ 0x5A);
        if (stored[at] != want) Fail(moved ? "byte after the round trip" : "byte outside the area", want, stored[at]);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const Request r = ReadRequest(in);
  TileLayout t;
  memset(&t, 0xA5, sizeof(t));
  const TileLayoutResult result =
      ComputeTileLayout(r.wantLayout, r.depth, r.left, r.top, r.right, r.bottom, r.loPlane, r.hiPlane, &t);
  CheckLayout(r, result, t);
  if (result != TILE_LAYOUT_OK) return 0;
  CheckBlockSizes(t, r.pad);
  RoundTrip(in, r, t);
  return 0;
}
