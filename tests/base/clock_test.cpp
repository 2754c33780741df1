#include <windows.h>

#include "gtest/gtest.h"
#include "base/clock.h"

static ClockStamp Stamp(uint64_t tickMs, uint64_t micros) { return (tickMs << 37) | micros; }

TEST(ClockElapsed, PrefersTheFineCounter) {
  EXPECT_DOUBLE_EQ(0.45, ClockElapsed(Stamp(1000, 1000000), Stamp(1500, 1450000)));
}

TEST(ClockElapsed, CoarseWinsWhenTheyDisagreeOverASecond) {
  // coarse 2.0, fine 1.7: r = 0.15 and the larger is 2.0
  EXPECT_DOUBLE_EQ(2.0, ClockElapsed(Stamp(1000, 1000000), Stamp(3000, 2700000)));
}

TEST(ClockElapsed, CoarseWinsWhenTheyDisagreeByAThird) {
  EXPECT_DOUBLE_EQ(0.3, ClockElapsed(Stamp(0, 0), Stamp(300, 100000)));
}

TEST(ClockElapsed, ShortIntervalReadingAsAMinuteTakesCoarse) {
  EXPECT_DOUBLE_EQ(0.05, ClockElapsed(Stamp(0, 0), Stamp(50, 61000000)));
}

TEST(ClockElapsed, WrappedTickFieldIsStillSmallAndPositive) {
  ClockStamp a = Stamp(CLOCK_TICK_MASK - 10, 5000);
  ClockStamp b = Stamp(5, 20000);
  double s = ClockElapsed(a, b);
  EXPECT_GT(s, 0.0);
  EXPECT_LT(s, 0.1);
}

TEST(ClockElapsed, WrappedMicroFieldAddsTheMask) {
  ClockStamp a = Stamp(100, CLOCK_MICRO_MASK - 1000);
  ClockStamp b = Stamp(100, 999);
  EXPECT_NEAR(0.001999, ClockElapsed(a, b), 1e-9);
}

TEST(ClockStampLayout, TickInHighBitsMicrosInLow) {
  ClockStamp s = ComposeClockStamp(0xFFFFFFFFu, 3000000, 1000000);
  EXPECT_EQ(CLOCK_TICK_MASK, s >> 37);
  EXPECT_EQ(3000000u, s & CLOCK_MICRO_MASK);
}

TEST(ClockNow, MeasuresRealTime) {
  ClockStamp a = ClockNow();
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(never, 100);  // a bounded wait on an event nobody sets
  CloseHandle(never);
  double s = ClockElapsed(a, ClockNow());
  EXPECT_GE(s, 0.09);
  EXPECT_LT(s, 5.0);
}

TEST(Milliseconds, RoundsAndSaturates) {
  EXPECT_EQ(60000u, MillisecondsFromSeconds(60.0));
  EXPECT_EQ(2u, MillisecondsFromSeconds(0.0015));
  EXPECT_EQ(4294967295u, MillisecondsFromSeconds(1e12));
  EXPECT_EQ(0u, MillisecondsFromSeconds(-3.0));
}
