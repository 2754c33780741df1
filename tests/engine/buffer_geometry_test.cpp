#include "engine/buffer_geometry.h"

#include <climits>

#include "engine/pixel_buffer.h"
#include "gtest/gtest.h"

TEST(BufferSize, ReductionsKeepLimitsAspectAndEvenSides) {
  struct Case {
    int32_t w, h;
    uint32_t width, height;
    bool reduced;
  } cases[] = {
      {20000, 20000, 15812, 15812, true}, {-20000, 20000, 15812, 15812, true}, {70000, 10, 65536, 9, true},
      {10, 70000, 9, 65536, true},        {65536, 3000, 65536, 3000, false},   {-100, 7, 100, 7, false},
      {1, 200000, 1, 65536, true},  // the short side would round to 0
      {INT32_MAX, 1, 65536, 1, true},
  };
  for (const Case& c : cases) {
    BufferSize s{};
    ASSERT_TRUE(ComputeBufferSize(c.w, c.h, &s)) << c.w << " x " << c.h;
    EXPECT_EQ(c.width, s.width) << c.w << " x " << c.h;
    EXPECT_EQ(c.height, s.height) << c.w << " x " << c.h;
    EXPECT_EQ(c.reduced, s.reduced) << c.w << " x " << c.h;
  }
  BufferSize s{};
  EXPECT_FALSE(ComputeBufferSize(0, 10, &s));
  EXPECT_FALSE(ComputeBufferSize(10, 0, &s));
  ASSERT_TRUE(ComputeBufferSize(INT32_MIN, INT32_MIN, &s));  // |INT32_MIN| and its square need 64 bits
  EXPECT_LE(uint64_t{s.width} * s.height, 250100000u);
}

TEST(BufferSize, StorageAndByteCountsInSixtyFourBits) {
  EXPECT_EQ(PB_DIB, ChooseStorageKind(10000, 5000, PB_STORAGE_AUTO));
  EXPECT_EQ(PB_OWNED, ChooseStorageKind(50000001, 1, PB_STORAGE_AUTO));
  EXPECT_EQ(PB_DIB, ChooseStorageKind(50000001, 1, PB_STORAGE_DIB));
  EXPECT_EQ(uint64_t{65536} * 65536 * 4, DibImageBytes(65536, 65536));
  EXPECT_EQ(uint64_t{(10 * 2 + 4) * 4}, ExternalSpanBytes(4, 3, 10));
  EXPECT_EQ(0u, ExternalSpanBytes(4, 3, 3)) << "rows may not overlap";
  EXPECT_EQ(0u, ExternalSpanBytes(4, -1, 4));
  EXPECT_EQ(0u, ExternalSpanBytes(1, INT32_MAX, INT32_MAX)) << "past any address space";
  EXPECT_EQ(sizeof(void*) == 8 ? uint64_t{1} << 34 : 0, ExternalSpanBytes(65536, 65536, 65536));
  EXPECT_EQ(PB_OWNED, ChooseStorageKind(10, 10, PB_STORAGE_EXACT));
  EXPECT_EQ(uint64_t{70000} * 10 * 4 + 16, OwnedStorageBytes(70000, 10));
  EXPECT_EQ(0u, OwnedStorageBytes(0x80000000u, 0x80000000u)) << "2^64 bytes would wrap to 16";
  BufferSize s{};
  ASSERT_TRUE(ExactBufferSize(INT32_MIN, 70000, &s));
  EXPECT_EQ(0x80000000u, s.width);
  EXPECT_EQ(70000u, s.height);
  EXPECT_FALSE(s.reduced);
  EXPECT_FALSE(ExactBufferSize(0, 1, &s));
}
