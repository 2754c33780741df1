#include "engine/region_copy.h"

#include <windows.h>

#include <thread>

#include "engine/resample.h"
#include "engine_helpers.h"
#include "gtest/gtest.h"
#include "tests/support/caller.h"

struct CopyPair {
  PixelBuffer src{}, dst{};
  CopyPair(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    EXPECT_TRUE(MakeBuffer(&src, sw, sh, PositionPixel));
    EXPECT_TRUE(MakeBuffer(&dst, dw, dh, Untouched));
  }
  ~CopyPair() {
    ReleasePixelBuffer(&src);
    ReleasePixelBuffer(&dst);
  }
  // Destination pixel (x, y) against source (sx, sy), or untouched for sx < 0.
  void Expect(uint32_t x, uint32_t y, int32_t sx, int32_t sy, CallerLine caller = CallerLine::current()) {
    TRACE_CALLER(caller);
    ASSERT_EQ(sx < 0 ? kUntouched : PositionPixel(sx, sy), PixelAt(dst, x, y)) << "at " << x << "," << y;
  }
};

TEST(CopyRegion, HalvingTakesEverySecondPixel) {
  CopyPair p(100, 100, 100, 100);
  ASSERT_EQ(1, CopyRegion(&p.dst, 0, 0, 49, 49, &p.src, 0, 0, 99, 99, 0));
  for (uint32_t y = 0; y < 51; ++y)
    for (uint32_t x = 0; x < 51; ++x) p.Expect(x, y, x < 50 && y < 50 ? 2 * x : -1, 2 * y);
}

TEST(CopyRegion, NegativeCornerLeavesWhatLiesOutsideTheSource) {
  CopyPair p(100, 100, 200, 100);
  ASSERT_EQ(1, CopyRegion(&p.dst, 0, 0, 99, 99, &p.src, -10, 0, 89, 99, 0));  // whole rows
  for (uint32_t x = 0; x < 101; ++x) p.Expect(x, 50, x < 10 || x > 99 ? -1 : x - 10, 50);
  CopyPair q(100, 10, 200, 10);
  ASSERT_EQ(1, CopyRegion(&q.dst, 0, 0, 199, 9, &q.src, -10, 0, 89, 9, 0));  // doubled
  for (uint32_t x = 0; x < 200; ++x) q.Expect(x, 5, x < 20 ? -1 : x / 2 - 10, 5);
  // Rows above the source at equal heights, with equal widths and with the
  // width halved: skipped, as a scaled copy skips them (they once repeated
  // row 0).
  const int32_t extents[] = {99, 49};
  for (int32_t maxX : extents) {
    CopyPair r(100, 10, 100, 10);
    ASSERT_EQ(1, CopyRegion(&r.dst, 0, 0, maxX, 9, &r.src, 0, -3, 99, 6, 0)) << "extent " << maxX;
    for (uint32_t y = 0; y < 10; ++y) r.Expect(0, y, y < 3 ? -1 : 0, y - 3);
    r.Expect(maxX == 99 ? 99 : 49, 9, maxX == 99 ? 99 : 98, 6);
  }
}

TEST(CopyRegion, OnlyWhatBothBuffersHoldIsCopied) {
  CopyPair small(100, 100, 50, 50);
  ASSERT_EQ(1, CopyRegion(&small.dst, 0, 0, 99, 99, &small.src, 0, 0, 99, 99, 0));
  small.Expect(49, 49, 49, 49);
  CopyPair narrow(30, 5, 100, 5);  // the rectangle reaches past the source's last column
  ASSERT_EQ(1, CopyRegion(&narrow.dst, 0, 0, 99, 4, &narrow.src, 0, 0, 99, 4, 0));
  narrow.Expect(29, 4, 29, 4);
  narrow.Expect(30, 4, -1, 0);
  EXPECT_EQ(1, CopyRegion(&narrow.dst, 0, 0, 9, 9, &narrow.src, 0, 30, 9, 39, 0)) << "rows below the source";
  narrow.Expect(0, 0, 0, 0);
  EXPECT_EQ(0, CopyRegion(&narrow.dst, 0, 0, 9, 4, &narrow.src, -20, 0, -11, 4, 0)) << "left of the source";
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
}

TEST(CopyRegion, SidesPastSixtyFiveThousandAreCopiedWhole) {
  // A working copy and its restore, and scaled copies, 70,000 pixels wide.
  auto unique = [](uint32_t x, uint32_t y) { return x * 4 + y; };
  PixelBuffer src{}, wide{}, dst{};
  ASSERT_TRUE(MakeBuffer(&src, 70000, 3, unique, PB_STORAGE_EXACT));
  ASSERT_TRUE(MakeBuffer(&wide, 140000, 2, unique, PB_STORAGE_EXACT));
  ASSERT_TRUE(MakeBuffer(&dst, 70000, 3, Untouched, PB_STORAGE_EXACT));
  ASSERT_EQ(1, CopyRegion(&dst, 0, 0, 69999, 2, &src, 0, 0, 69999, 2, 0));
  EXPECT_EQ(unique(69999, 2), PixelAt(dst, 69999, 2));
  ASSERT_EQ(1, CopyRegion(&dst, 0, 0, 69999, 2, &src, 0, 0, 34999, 2, 0));  // doubled
  EXPECT_EQ(unique(34999, 1), PixelAt(dst, 69999, 1));
  ASSERT_EQ(1, ResampleRegion(&dst, 0, 0, 69999, 0, &wide, 0, 0, 139999, 1, 0));  // halved
  EXPECT_EQ(AverageFour(unique(139998, 0), unique(139999, 0), unique(139998, 1), unique(139999, 1)),
            PixelAt(dst, 69999, 0));
  ReleasePixelBuffer(&src);
  ReleasePixelBuffer(&wide);
  ReleasePixelBuffer(&dst);
}

TEST(CopyRegion, ReleaseOnAnotherThreadStopsRunningCopy) {
  CopyPair p(64, 64, 64, 64);
  // Holding the source exclusively parks the copy after it has opened the
  // destination and before its first row: there we release the destination.
  ASSERT_EQ(1, BeginPixelAccess(&p.src, true));
  int copyResult = -1, releaseResult = -1;
  uint32_t copyError = 0;
  std::thread copier([&] {
    copyResult = CopyRegion(&p.dst, 0, 0, 63, 63, &p.src, 0, 0, 63, 63, 0);
    copyError = EngineLastError();
  });
  WaitUntil([&] { return BufferUsers(&p.dst) == 1; });
  std::thread releaser([&] { releaseResult = ReleasePixelBuffer(&p.dst); });
  WaitUntil([&] { return (BufferStateFlags(&p.dst) & PB_CLOSING) != 0; });
  EndPixelAccess(&p.src, true);
  copier.join();
  releaser.join();
  EXPECT_EQ(0, copyResult);
  EXPECT_EQ(ENG_BUFFER_RELEASED, copyError);
  EXPECT_EQ(1, releaseResult);
  EXPECT_EQ(0, BufferUsers(&p.src)) << "the stopped copy closed its sections";
}

