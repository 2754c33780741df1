#include "engine/tile_layout.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

// One pixel (blue, green, red, fourth byte) to the tile's red, green, blue,
// transparency order and back: red and blue trade places and the fourth byte
// is complemented. The same mapping is its own inverse.
static inline uint32_t SwapToTile(uint32_t p) {
  return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16) | (~p & 0xFF000000u);
}

// Whole rows of pixels: four at a time where SSE2 is there (every 64-bit
// build), the rest a word at a time. Every tile of the common interleaved
// kind passes through here three times, so this is the job's inner loop.
static void SwapRowPortable(const uint8_t* from, uint8_t* to, int32_t pixels) {
  size_t x = 0;
#if defined(__SSE2__)
  const __m128i green = _mm_set1_epi32(0x0000FF00), low = _mm_set1_epi32(0x000000FF);
  const __m128i third = _mm_set1_epi32(0x00FF0000), fourth = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; x + 4 <= static_cast<size_t>(pixels); x += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x * 4));
    const __m128i q = _mm_or_si128(_mm_or_si128(_mm_and_si128(p, green), _mm_and_si128(_mm_srli_epi32(p, 16), low)),
                                   _mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 16), third), _mm_andnot_si128(p, fourth)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x * 4), q);
  }
#endif
  for (; x < static_cast<size_t>(pixels); ++x) {
    uint32_t p;
    memcpy(&p, from + x * 4, 4);
    p = SwapToTile(p);
    memcpy(to + x * 4, &p, 4);
  }
}

#if defined(__x86_64__)
// The same with one byte shuffle and a complement for eight pixels, on
// processors with AVX2. The compiler does not align a Windows stack for
// 32-byte values, so this loop must never spill one: its six live values fit
// the 64-bit build's sixteen registers, not the 32-bit build's eight, which
// keeps the portable loop.
__attribute__((target("avx2"))) static void SwapRowAvx2(const uint8_t* from, uint8_t* to, int32_t pixels) {
  const __m256i order = _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15,  //
                                         2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  const __m256i fourth = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const size_t count = static_cast<size_t>(pixels);
  size_t x = 0;
  for (; x + 16 <= count; x += 16) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + x * 4));
    const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + x * 4 + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + x * 4), _mm256_xor_si256(_mm256_shuffle_epi8(p, order), fourth));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + x * 4 + 32),
                        _mm256_xor_si256(_mm256_shuffle_epi8(q, order), fourth));
  }
  for (; x + 8 <= count; x += 8) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + x * 4));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + x * 4), _mm256_xor_si256(_mm256_shuffle_epi8(p, order), fourth));
  }
  _mm256_zeroupper();
  SwapRowPortable(from + x * 4, to + x * 4, static_cast<int32_t>(count - x));
}
#endif

using SwapRowProc = void (*)(const uint8_t* from, uint8_t* to, int32_t pixels);

static SwapRowProc ChooseSwapRow() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SwapRowAvx2;
#endif
  return SwapRowPortable;
}

static void SwapRow(const uint8_t* from, uint8_t* to, int32_t pixels) {
  static const SwapRowProc chosen = ChooseSwapRow();
  chosen(from, to, pixels);
}

static int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// a · b · c held at the 64-bit limits instead of overflowing: rectangles with
// 32-bit coordinates and wide plane ranges can take a stride past 64 bits, and
// such a stride is refused below in any case.
static int64_t StrideProduct(int64_t a, int64_t b, int64_t c) {
  int64_t ab = 0, abc = 0;
  if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc))
    return ((a < 0) != (b < 0)) != (c < 0) ? INT64_MIN : INT64_MAX;
  return abc;
}

TileLayoutResult ComputeTileLayout(int16_t wantLayout, int32_t depth, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom, int32_t loPlane, int32_t hiPlane, TileLayout* out) {
  if (wantLayout == 2 || wantLayout == 3 || wantLayout == 4 || wantLayout == 6) return TILE_LAYOUT_REFUSED;
  int64_t b = (static_cast<int64_t>(depth) + 7) / 8;
  b = b < 1 ? 1 : (b > 4 ? 4 : b);
  const int64_t w = static_cast<int64_t>(right) - left;
  const int64_t h = static_cast<int64_t>(bottom) - top;
  int64_t n = static_cast<int64_t>(hiPlane) - loPlane + 1;
  TileLayout layout{};
  layout.bytesPerSample = static_cast<uint32_t>(b);
  layout.width = w;
  layout.height = h;
  layout.planes = n > 0 ? static_cast<uint32_t>(n) : 0;
  int64_t column, plane, row;
  if (wantLayout == 5) {
    column = b;
    plane = StrideProduct(b, h, w);
    row = b * w;
  } else {
    column = b * n;
    plane = b;
    row = StrideProduct(b, n, w);
  }
  const bool empty = w <= 0 || h <= 0 || n <= 0;
  layout.total = empty ? 0 : static_cast<uint64_t>(b * n) * static_cast<uint64_t>(h) * static_cast<uint64_t>(w);
  if (!empty && (row > INT32_MAX || plane > INT32_MAX || column > INT32_MAX)) return TILE_LAYOUT_TOO_LARGE;
  layout.columnBytes = static_cast<int32_t>(column);
  layout.planeBytes = static_cast<int32_t>(plane);
  layout.rowBytes = static_cast<int32_t>(row);
  *out = layout;
  return TILE_LAYOUT_OK;
}

uint64_t TileAllocationSize(uint64_t s) {
  uint64_t slack = s < 8200 ? 1024 : s / 8;
  if (s > UINT64_MAX / 2) return 0;
  uint64_t a = (s + 65535 + slack) & ~static_cast<uint64_t>(65535);
  return a;
}

bool TileBlockReusable(uint64_t blockSize, uint64_t allocationSize) {
  return blockSize >= allocationSize && blockSize <= allocationSize + allocationSize / 2;
}

uint64_t TileBytesWithPadding(const TileLayout& layout, int32_t padValue) {
  uint64_t pad = static_cast<uint64_t>(padValue < 0 ? -static_cast<int64_t>(padValue) : padValue);
  uint64_t rows = static_cast<uint64_t>(layout.height < 0 ? -(layout.height + 1) : layout.height + 1);
  uint64_t bn = static_cast<uint64_t>(layout.bytesPerSample) * layout.planes;
  uint64_t extra = 0, sum = 0;
  if (__builtin_mul_overflow(rows, pad, &extra) || __builtin_mul_overflow(extra, bn, &extra) ||
      __builtin_mul_overflow(extra, 2u, &extra) || __builtin_add_overflow(extra, layout.total, &sum) ||
      sum > UINT64_MAX / 4)
    return 0;
  return sum;
}

TileClamp ClampTile(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t loPlane, int32_t hiPlane,
                    uint32_t imageWidth, uint32_t imageHeight) {
  const int32_t w = imageWidth > INT32_MAX ? INT32_MAX : static_cast<int32_t>(imageWidth);
  const int32_t h = imageHeight > INT32_MAX ? INT32_MAX : static_cast<int32_t>(imageHeight);
  TileClamp c;
  c.x0 = Clamp(left, 0, w);
  c.y0 = Clamp(top, 0, h);
  c.x1 = Clamp(right, 0, w);
  c.y1 = Clamp(bottom, 0, h);
  c.p0 = Clamp(loPlane, 0, 3);
  c.p1 = Clamp(hiPlane, 0, 3);
  return c;
}

void FillTileFromPixels(const uint8_t* pixels, uint32_t pitch, const TileClamp& a, uint8_t* tile,
                        const TileLayout& layout, int32_t originX, int32_t originY, int32_t originPlane) {
  if (a.x1 <= a.x0 || a.y1 <= a.y0 || a.p1 < a.p0) return;
  const int64_t rowBytes = layout.rowBytes, columnBytes = layout.columnBytes, planeBytes = layout.planeBytes;
  // The common case, four interleaved planes of 8-bit samples, in one pass.
  const bool interleavedRGBA = a.p0 == 0 && a.p1 == 3 && originPlane == 0 && columnBytes == 4 && planeBytes == 1;
  for (int32_t y = a.y0; y < a.y1; ++y) {
    const uint8_t* src = pixels + (static_cast<uint64_t>(y) * pitch + static_cast<uint64_t>(a.x0)) * 4;
    uint8_t* row = tile + (static_cast<int64_t>(y) - originY) * rowBytes + (static_cast<int64_t>(a.x0) - originX) * columnBytes;
    if (interleavedRGBA) {
      SwapRow(src, row, a.x1 - a.x0);
      continue;
    }
    for (int32_t x = a.x0; x < a.x1; ++x, src += 4, row += columnBytes) {
      for (int32_t p = a.p0; p <= a.p1; ++p) {
        uint8_t v = src[kPlaneByte[p]];
        row[(static_cast<int64_t>(p) - originPlane) * planeBytes] = p == 3 ? static_cast<uint8_t>(255 - v) : v;
      }
    }
  }
}

void StoreTileToPixels(uint8_t* pixels, uint32_t pitch, const TileClamp& a, const uint8_t* tile, int32_t rowBytes,
                       int32_t columnBytes, int32_t planeBytes, int32_t originX, int32_t originY, int32_t originPlane) {
  if (a.x1 <= a.x0 || a.y1 <= a.y0 || a.p1 < a.p0) return;
  const bool interleavedRGBA = a.p0 == 0 && a.p1 == 3 && originPlane == 0 && columnBytes == 4 && planeBytes == 1;
  for (int32_t y = a.y0; y < a.y1; ++y) {
    uint8_t* dst = pixels + (static_cast<uint64_t>(y) * pitch + static_cast<uint64_t>(a.x0)) * 4;
    const uint8_t* row = tile + (static_cast<int64_t>(y) - originY) * rowBytes +
                         (static_cast<int64_t>(a.x0) - originX) * columnBytes;
    if (interleavedRGBA) {
      SwapRow(row, dst, a.x1 - a.x0);
      continue;
    }
    for (int32_t x = a.x0; x < a.x1; ++x, dst += 4, row += columnBytes) {
      for (int32_t p = a.p0; p <= a.p1; ++p) {
        uint8_t v = row[(static_cast<int64_t>(p) - originPlane) * planeBytes];
        dst[kPlaneByte[p]] = p == 3 ? static_cast<uint8_t>(255 - v) : v;
      }
    }
  }
}

bool TileReachesOutside(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t width, uint32_t height) {
  if (right <= left || bottom <= top) return false;
  return left < 0 || top < 0 || static_cast<int64_t>(right) > width || static_cast<int64_t>(bottom) > height;
}

// The planes of one image pixel into one tile pixel.
static inline void PutPixel(uint8_t* sample, const uint8_t* pixel, int32_t p0, int32_t p1, int64_t planeBytes) {
  for (int32_t p = p0; p <= p1; ++p) {
    uint8_t v = pixel[kPlaneByte[p]];
    sample[(p - p0) * planeBytes] = p == 3 ? static_cast<uint8_t>(255 - v) : v;
  }
}

static inline void PutValue(uint8_t* sample, uint8_t value, int32_t p0, int32_t p1, int64_t planeBytes) {
  for (int32_t p = p0; p <= p1; ++p) sample[(p - p0) * planeBytes] = value;
}

void FillTile(const TileImage& image, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t loPlane,
              int32_t hiPlane, uint8_t* tile, const TileLayout& layout, int32_t padding) {
  const TileClamp inside = ClampTile(left, top, right, bottom, loPlane, hiPlane, image.width, image.height);
  FillTileFromPixels(image.pixels, image.pitch, inside, tile, layout, left, top, inside.p0);
  const bool value = padding >= 0 && padding <= 255;
  const bool edge = padding == TILE_PAD_EDGE && image.width > 0 && image.height > 0;
  if (!edge && !value) return;
  if (right <= left || bottom <= top || inside.p1 < inside.p0) return;
  const int64_t rowBytes = layout.rowBytes, columnBytes = layout.columnBytes, planeBytes = layout.planeBytes;
  const int64_t lastX = static_cast<int64_t>(image.width) - 1, lastY = static_cast<int64_t>(image.height) - 1;
  for (int64_t y = top; y < bottom; ++y) {
    uint8_t* row = tile + (y - top) * rowBytes;
    // The image part of this row, [x0, x1); none for rows above or below.
    const bool rowInImage = y >= 0 && y <= lastY && inside.x0 < inside.x1;
    const int64_t x0 = rowInImage ? inside.x0 : right, x1 = rowInImage ? inside.x1 : right;
    const uint8_t* nearestRow = nullptr;
    if (edge) nearestRow = image.pixels + static_cast<uint64_t>(y < 0 ? 0 : (y > lastY ? lastY : y)) * image.pitch * 4;
    for (int64_t x = left; x < right; ++x) {
      if (x == x0) {
        x = x1 - 1;  // filled from the image already
        continue;
      }
      uint8_t* sample = row + (x - left) * columnBytes;
      if (value) {
        PutValue(sample, static_cast<uint8_t>(padding), inside.p0, inside.p1, planeBytes);
      } else {
        const int64_t nearest = x < 0 ? 0 : (x > lastX ? lastX : x);
        PutPixel(sample, nearestRow + nearest * 4, inside.p0, inside.p1, planeBytes);
      }
    }
  }
}
