// Helpers shared by the engine tests: buffers with known pixels, pixel reads,
// and a recorder for engine events.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/pixel_buffer.h"
#include "engine/runtime.h"

// A pixel that names its own position, so a wrong source shows where it came from.
inline uint32_t PositionPixel(uint32_t x, uint32_t y) { return 0xFF000000u | (y << 12) | x; }

inline uint32_t& PixelAt(PixelBuffer& b, uint32_t x, uint32_t y) { return b.pixels[static_cast<size_t>(b.pitch) * y + x]; }

// A DIB-section buffer of w x h with every pixel from f(x, y).
template <class F>
inline bool MakeBuffer(PixelBuffer* b, int32_t w, int32_t h, F f) {
  memset(b, 0, sizeof(*b));
  if (!CreatePixelBuffer(b, w, h, PB_STORAGE_DIB)) return false;
  for (uint32_t y = 0; y < b->height; ++y)
    for (uint32_t x = 0; x < b->width; ++x) PixelAt(*b, x, y) = f(x, y);
  return true;
}

inline bool AllZero(const PixelBuffer& b) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&b);
  for (size_t i = 0; i < sizeof(b); ++i)
    if (p[i] != 0) return false;
  return true;
}

// Collects the engine events sent on the thread that installs it.
struct EventRecorder {
  std::vector<uint32_t> events;
  static void Receive(uint32_t code, uintptr_t user) { reinterpret_cast<EventRecorder*>(user)->events.push_back(code); }
  void Install() {
    EngineThreadState* s = GetEngineThreadState();
    s->notify = &Receive;
    s->notifyUserValue = reinterpret_cast<uintptr_t>(this);
  }
  ~EventRecorder() {
    EngineThreadState* s = GetEngineThreadState();
    if (s != nullptr && s->notifyUserValue == reinterpret_cast<uintptr_t>(this)) {
      s->notify = nullptr;
      s->notifyUserValue = 0;
    }
  }
  bool Saw(uint32_t code) const {
    for (uint32_t e : events)
      if (e == code) return true;
    return false;
  }
};

// Spins (yielding) until the condition holds: the tests wait on state the
// engine itself publishes, never on time.
template <class F>
inline void WaitUntil(F condition) {
  while (!condition()) Sleep(0);
}
