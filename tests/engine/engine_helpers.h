// Shared by the engine tests: buffers with known pixels and an engine-event recorder.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/pixel_buffer.h"
#include "engine/runtime.h"

constexpr uint32_t kUntouched = 0x5A5A5A5A;

// A pixel that names its own position, so a wrong source shows where it came from.
inline uint32_t PositionPixel(uint32_t x, uint32_t y) { return 0xFF000000u | (y << 12) | x; }
inline uint32_t Untouched(uint32_t, uint32_t) { return kUntouched; }
inline uint32_t& PixelAt(PixelBuffer& b, uint32_t x, uint32_t y) { return b.pixels[size_t{b.pitch} * y + x]; }

// A buffer of w x h (a DIB section unless told otherwise) with every pixel
// from f(x, y).
template <class F>
inline bool MakeBuffer(PixelBuffer* b, int32_t w, int32_t h, F f, int32_t storage = PB_STORAGE_DIB) {
  memset(static_cast<void*>(b), 0, sizeof(*b));
  if (!CreatePixelBuffer(b, w, h, storage)) return false;
  for (uint32_t y = 0; y < b->height; ++y)
    for (uint32_t x = 0; x < b->width; ++x) PixelAt(*b, x, y) = f(x, y);
  return true;
}

inline bool AllZero(const PixelBuffer& b) {
  static const PixelBuffer zero{};
  return memcmp(&b, &zero, sizeof(b)) == 0;
}

// Records the engine events sent on this thread while it lives.
struct EventRecorder {
  std::vector<uint32_t> events;
  static void Receive(uint32_t code, uintptr_t user) { reinterpret_cast<EventRecorder*>(user)->events.push_back(code); }
  EventRecorder() {
    GetEngineThreadState()->notify = &Receive;
    GetEngineThreadState()->notifyUserValue = reinterpret_cast<uintptr_t>(this);
  }
  ~EventRecorder() { GetEngineThreadState()->notify = nullptr; }
  bool Saw(uint32_t code) const { return std::find(events.begin(), events.end(), code) != events.end(); }
};

// Yields until the condition holds: tests wait on state the engine publishes, never on time.
template <class F>
inline void WaitUntil(F condition) {
  while (!condition()) Sleep(0);
}
