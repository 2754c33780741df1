#include "engine/region_copy.h"

#include <windows.h>

#include <thread>

#include "engine/pixel_buffer.h"
#include "engine/runtime.h"
#include "engine_helpers.h"
#include "gtest/gtest.h"
#include "server/memory.h"

static const uint32_t kUntouched = 0x5A5A5A5A;

struct CopyPair {
  PixelBuffer src{}, dst{};
  CopyPair(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    EXPECT_TRUE(MakeBuffer(&src, sw, sh, PositionPixel));
    EXPECT_TRUE(MakeBuffer(&dst, dw, dh, [](uint32_t, uint32_t) { return kUntouched; }));
  }
  ~CopyPair() {
    ReleasePixelBuffer(&src);
    ReleasePixelBuffer(&dst);
  }
};

TEST(CopyRegion, HalvingTakesEverySecondPixel) {
  CopyPair p(100, 100, 100, 100);
  ASSERT_EQ(1, CopyRegion(&p.dst, 0, 0, 49, 49, &p.src, 0, 0, 99, 99, 0));
  for (uint32_t y = 0; y < 50; ++y)
    for (uint32_t x = 0; x < 50; ++x) ASSERT_EQ(PositionPixel(2 * x, 2 * y), PixelAt(p.dst, x, y)) << x << "," << y;
  EXPECT_EQ(kUntouched, PixelAt(p.dst, 50, 0)) << "outside the extent stays";
  EXPECT_EQ(kUntouched, PixelAt(p.dst, 0, 50));
}

TEST(CopyRegion, SameSizeMovesRowsAndKeepsColumnsLeftOfNegativeLeft) {
  CopyPair p(100, 100, 100, 100);
  ASSERT_EQ(1, CopyRegion(&p.dst, 0, 0, 99, 99, &p.src, -10, 0, 89, 99, 0));
  for (uint32_t y = 0; y < 100; y += 33) {
    for (uint32_t x = 0; x < 10; ++x) ASSERT_EQ(kUntouched, PixelAt(p.dst, x, y)) << x << "," << y;
    for (uint32_t x = 10; x < 100; ++x) ASSERT_EQ(PositionPixel(x - 10, y), PixelAt(p.dst, x, y)) << x << "," << y;
  }
}

TEST(CopyRegion, ScaledNegativeLeftKeepsColumnsLeftOfTheSource) {
  CopyPair p(100, 10, 200, 10);
  ASSERT_EQ(1, CopyRegion(&p.dst, 0, 0, 199, 9, &p.src, -10, 0, 89, 9, 0));
  for (uint32_t x = 0; x < 20; ++x) EXPECT_EQ(kUntouched, PixelAt(p.dst, x, 3)) << "column " << x;
  EXPECT_EQ(PositionPixel(0, 3), PixelAt(p.dst, 20, 3));
  EXPECT_EQ(PositionPixel(0, 3), PixelAt(p.dst, 21, 3));
  EXPECT_EQ(PositionPixel(89, 3), PixelAt(p.dst, 199, 3));
}

TEST(CopyRegion, SourceOffTheSidesRefusedOffTheBottomCopiesNothing) {
  CopyPair p(20, 20, 20, 20);
  EXPECT_EQ(0, CopyRegion(&p.dst, 0, 0, 9, 9, &p.src, -20, 0, -11, 9, 0));
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
  EXPECT_EQ(0, CopyRegion(&p.dst, 0, 0, 9, 9, &p.src, 20, 0, 29, 9, 0));
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
  EXPECT_EQ(1, CopyRegion(&p.dst, 0, 0, 9, 9, &p.src, 0, 30, 9, 39, 0));
  EXPECT_EQ(kUntouched, PixelAt(p.dst, 0, 0));
  EXPECT_EQ(0, CopyRegion(&p.dst, 0, 0, 9, 9, &p.src, 5, 0, 4, 9, 0)) << "right left of left";
  EXPECT_EQ(0, CopyRegion(&p.dst, 0, 0, -1, 9, &p.src, 0, 0, 9, 9, 0));
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
}

TEST(CopyRegion, SmallDestinationReceivesWhatFits) {
  CopyPair p(100, 100, 50, 50);
  ASSERT_EQ(1, CopyRegion(&p.dst, 0, 0, 99, 99, &p.src, 0, 0, 99, 99, 0));
  for (uint32_t y = 0; y < 50; ++y)
    for (uint32_t x = 0; x < 50; ++x) ASSERT_EQ(PositionPixel(x, y), PixelAt(p.dst, x, y)) << x << "," << y;
}

TEST(CopyRegion, WideSourceRectangleOverNarrowSourceStaysInside) {
  // The rectangle reaches past the source's last column: only what exists is read.
  CopyPair p(30, 5, 100, 5);
  ASSERT_EQ(1, CopyRegion(&p.dst, 0, 0, 99, 4, &p.src, 0, 0, 99, 4, 0));
  EXPECT_EQ(PositionPixel(29, 4), PixelAt(p.dst, 29, 4));
  EXPECT_EQ(kUntouched, PixelAt(p.dst, 30, 4));
}

TEST(CopyRegion, SampleMapBlockRefusedGivesOutOfMemory) {
  CopyPair p(4, 4, 4, 4);
  int result = -1;
  uint32_t error = 0;
  std::thread([&] {  // a fresh thread has no map block yet
    GetEngineThreadState();
    SetAllocationFailureAt(1);
    result = CopyRegion(&p.dst, 0, 0, 3, 3, &p.src, 0, 0, 3, 3, 0);
    SetAllocationFailureAt(0);
    error = EngineLastError();
  }).join();
  EXPECT_EQ(0, result);
  EXPECT_EQ(ENG_OUT_OF_MEMORY, error);
  EXPECT_EQ(kUntouched, PixelAt(p.dst, 0, 0));
}

TEST(CopyRegion, ReleaseOnAnotherThreadStopsRunningCopy) {
  CopyPair p(64, 64, 64, 64);
  // Holding the source exclusively parks the copy between opening the
  // destination and its first row, where we can release under it.
  ASSERT_EQ(1, BeginPixelAccess(&p.src, true));
  int copyResult = -1;
  uint32_t copyError = 0;
  std::thread copier([&] {
    copyResult = CopyRegion(&p.dst, 0, 0, 63, 63, &p.src, 0, 0, 63, 63, 0);
    copyError = EngineLastError();
  });
  WaitUntil([&] { return BufferUsers(&p.dst) == 1; });
  int releaseResult = -1;
  std::thread releaser([&] { releaseResult = ReleasePixelBuffer(&p.dst); });
  WaitUntil([&] { return (BufferStateFlags(&p.dst) & PB_CLOSING) != 0; });
  EndPixelAccess(&p.src, true);
  copier.join();
  releaser.join();
  EXPECT_EQ(0, copyResult);
  EXPECT_EQ(ENG_BUFFER_RELEASED, copyError);
  EXPECT_EQ(1, releaseResult);
  EXPECT_TRUE(AllZero(p.dst));
  EXPECT_EQ(0, BufferUsers(&p.src)) << "the stopped copy closed its sections";
}

TEST(ClearRegion, ZeroesTheExtentWithinTheBuffer) {
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 10, 10, [](uint32_t, uint32_t) { return kUntouched; }));
  ASSERT_EQ(1, BeginPixelAccess(&b, false));
  EXPECT_EQ(1, ClearRegion(&b, 0, 0, 3, 1));
  EXPECT_EQ(0u, PixelAt(b, 3, 1));
  EXPECT_EQ(kUntouched, PixelAt(b, 4, 1));
  EXPECT_EQ(kUntouched, PixelAt(b, 0, 2));
  EXPECT_EQ(1, ClearRegion(&b, 0, 0, 1000, 1000)) << "an extent past the buffer is cut";
  EXPECT_EQ(0u, PixelAt(b, 9, 9));
  EndPixelAccess(&b, false);
  ReleasePixelBuffer(&b);
  EXPECT_EQ(0, ClearRegion(&b, 0, 0, 3, 3));
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
}
