#include "base/clock.h"

#include <windows.h>
#include <cmath>

ClockStamp ComposeClockStamp(uint32_t tickMs, uint64_t counter, uint64_t frequency) {
  uint64_t micros = 0;
  if (frequency != 0) {
    // Split the division so the product cannot overflow for long uptimes.
    long double us = static_cast<long double>(counter) * 1000000.0L / static_cast<long double>(frequency) + 0.5L;
    micros = static_cast<uint64_t>(us);
  }
  return ((static_cast<uint64_t>(tickMs) & CLOCK_TICK_MASK) << 37) | (micros & CLOCK_MICRO_MASK);
}

ClockStamp ClockNow() {
  uint32_t tick = GetTickCount();
  LARGE_INTEGER counter{}, frequency{};
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return ComposeClockStamp(tick, static_cast<uint64_t>(counter.QuadPart), static_cast<uint64_t>(frequency.QuadPart));
}

double ClockElapsed(ClockStamp a, ClockStamp b) {
  uint64_t tickA = a >> 37, tickB = b >> 37;
  uint64_t microA = a & CLOCK_MICRO_MASK, microB = b & CLOCK_MICRO_MASK;
  // A wrapped field adds the mask, not the modulus: the clock has always done so.
  uint64_t ticks = tickB >= tickA ? tickB - tickA : tickB + CLOCK_TICK_MASK - tickA;
  uint64_t micros = microB >= microA ? microB - microA : microB + CLOCK_MICRO_MASK - microA;
  double coarse = static_cast<double>(ticks) * 0.001;
  double fine = static_cast<double>(micros) * 0.000001;
  if (coarse < 0.1) return fine >= 60.0 ? coarse : fine;
  double r = std::fabs(fine - coarse) / coarse;
  if (r < 0.1) return fine;
  if (r >= 0.3333) return coarse;
  return (fine > coarse ? fine : coarse) >= 1.0 ? coarse : fine;
}

uint32_t MillisecondsFromSeconds(double seconds) {
  double ms = seconds * 1000.0 + 0.5;
  if (!(ms > 0.0)) return 0;
  if (ms >= 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(ms);
}
