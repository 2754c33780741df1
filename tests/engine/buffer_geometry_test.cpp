#include "engine/buffer_geometry.h"

#include <climits>

#include "engine/pixel_buffer.h"
#include "gtest/gtest.h"

static BufferSize SizeOf(int32_t w, int32_t h) {
  BufferSize s{0, 0, false};
  EXPECT_TRUE(ComputeBufferSize(w, h, &s)) << w << " x " << h;
  return s;
}

TEST(BufferSize, OverPixelLimitReducedToEvenSides) {
  BufferSize s = SizeOf(20000, 20000);
  EXPECT_EQ(15812u, s.width);
  EXPECT_EQ(15812u, s.height);
  EXPECT_TRUE(s.reduced);
  s = SizeOf(-20000, 20000);  // the sign of a side does not matter
  EXPECT_EQ(15812u, s.width);
}

TEST(BufferSize, LongSideLimitedKeepingAspect) {
  BufferSize s = SizeOf(70000, 10);
  EXPECT_EQ(65536u, s.width);
  EXPECT_EQ(9u, s.height);
  EXPECT_TRUE(s.reduced);
  s = SizeOf(10, 70000);
  EXPECT_EQ(9u, s.width);
  EXPECT_EQ(65536u, s.height);
  s = SizeOf(65536, 3000);
  EXPECT_EQ(65536u, s.width);
  EXPECT_EQ(3000u, s.height);
  EXPECT_FALSE(s.reduced);
}

TEST(BufferSize, ZeroSideRefusedNegativeSideUsedByMagnitude) {
  BufferSize s{};
  EXPECT_FALSE(ComputeBufferSize(0, 10, &s));
  EXPECT_FALSE(ComputeBufferSize(10, 0, &s));
  s = SizeOf(-100, 7);
  EXPECT_EQ(100u, s.width);
  EXPECT_EQ(7u, s.height);
  EXPECT_FALSE(s.reduced);
}

TEST(BufferSize, ExtremeRequestsStayInRangeWithoutWrapping) {
  // |INT32_MIN| does not fit 32 bits, and the products below do not either.
  BufferSize s = SizeOf(INT32_MIN, INT32_MIN);
  EXPECT_LE(uint64_t{s.width} * s.height, 250100000u);
  EXPECT_LE(s.width, 65536u);
  EXPECT_TRUE(s.reduced);
  // A thin strip would round its short side to 0.
  s = SizeOf(1, 200000);
  EXPECT_EQ(1u, s.width);
  EXPECT_EQ(65536u, s.height);
  s = SizeOf(INT32_MAX, 1);
  EXPECT_EQ(1u, s.height);
  EXPECT_EQ(65536u, s.width);
}

TEST(StorageKind, DibUpToFiftyMillionPixelsOwnedMemoryAbove) {
  EXPECT_EQ(PB_DIB, ChooseStorageKind(10000, 5000, PB_STORAGE_AUTO));
  EXPECT_EQ(PB_OWNED, ChooseStorageKind(50000001, 1, PB_STORAGE_AUTO));
  EXPECT_EQ(PB_OWNED, ChooseStorageKind(7072, 7071, PB_STORAGE_AUTO));
  EXPECT_EQ(PB_DIB, ChooseStorageKind(7072, 7071, PB_STORAGE_DIB));
}

TEST(BufferBytes, ComputedInSixtyFourBits) {
  EXPECT_EQ(12u * 2, DibImageBytes(3, 2));
  EXPECT_EQ(uint64_t{65536} * 65536 * 4, DibImageBytes(65536, 65536));
  EXPECT_EQ(uint64_t{(10 * 2 + 4) * 4}, ExternalSpanBytes(4, 3, 10));
  EXPECT_EQ(0u, ExternalSpanBytes(4, 3, 3)) << "rows may not overlap";
  EXPECT_EQ(0u, ExternalSpanBytes(0, 3, 3));
  EXPECT_EQ(0u, ExternalSpanBytes(4, -1, 4));
  EXPECT_EQ(0u, ExternalSpanBytes(1, INT32_MAX, INT32_MAX)) << "past any address space";
#ifdef _WIN64
  EXPECT_EQ(uint64_t{65536} * 65536 * 4, ExternalSpanBytes(65536, 65536, 65536));
#else
  EXPECT_EQ(0u, ExternalSpanBytes(65536, 65536, 65536)) << "past a 32-bit address space";
#endif
}
