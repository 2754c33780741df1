#include "engine/resample.h"

#include <random>

#include "engine_helpers.h"
#include "gtest/gtest.h"

// Byte-at-a-time references for the lane arithmetic.
static uint32_t ByteBlend(uint32_t p00, uint32_t p01, uint32_t p10, uint32_t p11, uint32_t fx, uint32_t fy) {
  uint32_t w11 = (fx * fy) >> 8, w01 = fx - w11, w10 = fy - w11, w00 = 256 - w01 - w10 - w11, out = 0;
  for (int s = 0; s < 32; s += 8)
    out |= ((((p00 >> s) & 255) * w00 + ((p01 >> s) & 255) * w01 + ((p10 >> s) & 255) * w10 + ((p11 >> s) & 255) * w11) >> 8)
           << s;
  return out;
}
static uint32_t ByteAverage(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return ByteBlend(a, b, c, d, 128, 128); }

struct Pair {
  PixelBuffer src{}, dst{};
  ~Pair() {
    ReleasePixelBuffer(&src);
    ReleasePixelBuffer(&dst);
  }
};

TEST(ResampleKernel, LanesMatchBytewiseArithmetic) {
  std::mt19937 random(5);
  for (int i = 0; i < 20000; ++i) {
    uint32_t a = random(), b = random(), c = random(), d = random(), fx = random() & 255, fy = random() & 255;
    ASSERT_EQ(ByteAverage(a, b, c, d), AverageFour(a, b, c, d)) << std::hex << a << " " << b << " " << c << " " << d;
    ASSERT_EQ(ByteBlend(a, b, c, d, fx, fy), BlendBilinear(a, b, c, d, fx, fy)) << fx << " " << fy;
  }
}

TEST(ResampleRegion, HalvingAveragesEachTwoByTwoBlock) {
  std::mt19937 random(11);
  Pair p;
  ASSERT_TRUE(MakeBuffer(&p.src, 130, 200, [&](uint32_t, uint32_t) { return static_cast<uint32_t>(random()); }));
  ASSERT_TRUE(MakeBuffer(&p.dst, 50, 50, Untouched));
  // The whole corner, and a rectangle that starts inside the source in both
  // directions (its first row once averaged a row near top / 2).
  const uint32_t corners[][2] = {{0, 0}, {30, 100}};
  for (const auto& corner : corners) {
    const uint32_t left = corner[0], top = corner[1];
    ASSERT_EQ(1, ResampleRegion(&p.dst, 0, 0, 49, 49, &p.src, left, top, left + 99, top + 99, 0));
    for (uint32_t y = 0; y < 50; ++y)
      for (uint32_t x = 0; x < 50; ++x) {
        const uint32_t sx = left + 2 * x, sy = top + 2 * y;
        ASSERT_EQ(ByteAverage(PixelAt(p.src, sx, sy), PixelAt(p.src, sx + 1, sy), PixelAt(p.src, sx, sy + 1),
                              PixelAt(p.src, sx + 1, sy + 1)),
                  PixelAt(p.dst, x, y))
            << "from (" << left << ", " << top << "), destination " << x << "," << y;
      }
  }
  // Uniform 2 x 2 blocks come back exactly.
  auto block = [](uint32_t x, uint32_t y) { return 0x01000000u * ((x / 2 + y / 2) % 7) + 0x00FF7F01u * ((x / 2) % 3); };
  ASSERT_TRUE(MakeBuffer(&p.src, 40, 20, block));
  ASSERT_EQ(1, ResampleRegion(&p.dst, 0, 0, 19, 9, &p.src, 0, 0, 39, 19, 0));
  for (uint32_t y = 0; y < 10; ++y)
    for (uint32_t x = 0; x < 20; ++x) ASSERT_EQ(block(2 * x, 2 * y), PixelAt(p.dst, x, y)) << x << "," << y;
}

TEST(ResampleRegion, EnlargingInEitherDirectionIsBilinear) {
  Pair p;
  auto blackWhite = [](uint32_t x, uint32_t) { return x == 0 ? 0u : 0xFFFFFFFFu; };
  const uint32_t steps[] = {0x00000000, 0x3F3F3F3F, 0xBFBFBFBF, 0xFFFFFFFF};
  ASSERT_TRUE(MakeBuffer(&p.src, 2, 1, blackWhite));
  ASSERT_TRUE(MakeBuffer(&p.dst, 4, 2, Untouched));
  ASSERT_EQ(1, ResampleRegion(&p.dst, 0, 0, 3, 0, &p.src, 0, 0, 1, 0, 0));
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(steps[x], PixelAt(p.dst, x, 0)) << "column " << x;
  // Wider but shorter: still bilinear (a box would give 0 in column 1).
  ASSERT_TRUE(MakeBuffer(&p.src, 2, 4, blackWhite));
  ASSERT_EQ(1, ResampleRegion(&p.dst, 0, 0, 3, 1, &p.src, 0, 0, 1, 3, 0));
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(steps[x], PixelAt(p.dst, x, 1)) << "column " << x;
}

TEST(ResampleRegion, BilinearFollowsTheThreadsSampleMaps) {
  std::mt19937 random(3);
  Pair p;
  ASSERT_TRUE(MakeBuffer(&p.src, 37, 23, [&](uint32_t, uint32_t) { return static_cast<uint32_t>(random()); }));
  ASSERT_TRUE(MakeBuffer(&p.dst, 100, 61, Untouched));
  ASSERT_EQ(1, ResampleRegion(&p.dst, 0, 0, 99, 60, &p.src, 0, 0, 36, 22, 0));
  EngineThreadState* s = GetEngineThreadState();
  for (uint32_t y = 0; y < 61; ++y)
    for (uint32_t x = 0; x < 100; ++x) {
      int32_t c0 = s->columnIndex[x], r0 = s->rowIndex[y], c1 = c0 < 36 ? c0 + 1 : c0, r1 = r0 < 22 ? r0 + 1 : r0;
      ASSERT_EQ(ByteBlend(PixelAt(p.src, c0, r0), PixelAt(p.src, c1, r0), PixelAt(p.src, c0, r1), PixelAt(p.src, c1, r1),
                          s->columnFraction[x], s->rowFraction[y]),
                PixelAt(p.dst, x, y))
          << x << "," << y;
    }
}

TEST(ResampleRegion, SameSizeIsAPlainCopy) {
  Pair p;
  ASSERT_TRUE(MakeBuffer(&p.src, 30, 20, PositionPixel));
  ASSERT_TRUE(MakeBuffer(&p.dst, 30, 20, Untouched));
  ASSERT_EQ(1, ResampleRegion(&p.dst, 0, 0, 19, 9, &p.src, 5, 5, 24, 14, 0));
  for (uint32_t y = 0; y < 10; ++y)
    for (uint32_t x = 0; x < 20; ++x) ASSERT_EQ(PositionPixel(x + 5, y + 5), PixelAt(p.dst, x, y));
}
