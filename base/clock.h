// The monotonic clock every time limit is measured with: the tick count and
// the performance counter side by side, so that either can catch the other out.
#pragma once
#include <cstdint>

using ClockStamp = uint64_t;

constexpr uint64_t CLOCK_TICK_MASK = (1ull << 27) - 1;     // 134217727
constexpr uint64_t CLOCK_MICRO_MASK = (1ull << 37) - 1;    // 137438953471

ClockStamp ClockNow();
// Seconds from earlier to later. An earlier stamp of 0 measures from the
// start of the counters.
double ClockElapsed(ClockStamp earlier, ClockStamp later);

// Pure parts, exposed for tests.
ClockStamp ComposeClockStamp(uint32_t tickMs, uint64_t counter, uint64_t frequency);
// Seconds × 1000 + 0.5, saturated at 4294967295.
uint32_t MillisecondsFromSeconds(double seconds);
