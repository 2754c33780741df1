#include "engine/buffer_geometry.h"

#include <cmath>
#include <cstddef>

#include "engine/pixel_buffer.h"

static uint64_t Magnitude(int32_t v) { return v < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(v)) : static_cast<uint64_t>(v); }

bool ComputeBufferSize(int32_t width, int32_t height, BufferSize* size) {
  uint64_t w = Magnitude(width), h = Magnitude(height);
  if (w < 1 || h < 1) return false;
  bool reduced = false;
  if (w * h > PB_MAX_PIXELS) {
    double f = std::sqrt(static_cast<double>(PB_MAX_PIXELS) / (static_cast<double>(w) * static_cast<double>(h)));
    // Even sides keep later halvings exact.
    w = (static_cast<uint64_t>(static_cast<double>(w) * f) + 1) & ~uint64_t{1};
    h = (static_cast<uint64_t>(static_cast<double>(h) * f) + 1) & ~uint64_t{1};
    if (w < 1) w = 1;
    if (h < 1) h = 1;
    reduced = true;
  }
  if (h > PB_MAX_SIDE) {
    w = static_cast<uint64_t>(static_cast<double>(w) / static_cast<double>(h) * PB_MAX_SIDE + 0.5);
    h = PB_MAX_SIDE;
    reduced = true;
  }
  if (w > PB_MAX_SIDE) {
    h = static_cast<uint64_t>(static_cast<double>(h) / static_cast<double>(w) * PB_MAX_SIDE + 0.5);
    w = PB_MAX_SIDE;
    reduced = true;
  }
  // A very long, thin request would otherwise round its short side to 0.
  if (w < 1) w = 1;
  if (h < 1) h = 1;
  size->width = static_cast<uint32_t>(w);
  size->height = static_cast<uint32_t>(h);
  size->reduced = reduced;
  return true;
}

bool ExactBufferSize(int32_t width, int32_t height, BufferSize* size) {
  uint64_t w = Magnitude(width), h = Magnitude(height);
  if (w < 1 || h < 1) return false;
  size->width = static_cast<uint32_t>(w);
  size->height = static_cast<uint32_t>(h);
  size->reduced = false;
  return true;
}

uint64_t OwnedStorageBytes(uint32_t width, uint32_t height) {
  uint64_t bytes = 0;
  // 2^31 x 2^31 pixels of four bytes is 2^64: one past the range.
  if (__builtin_mul_overflow(static_cast<uint64_t>(width) * height, uint64_t{4}, &bytes) ||
      __builtin_add_overflow(bytes, uint64_t{16}, &bytes))
    return 0;
  return bytes;
}

uint8_t ChooseStorageKind(uint32_t width, uint32_t height, int32_t flags) {
  if (flags == PB_STORAGE_DIB) return PB_DIB;
  if (flags == PB_STORAGE_EXACT) return PB_OWNED;
  return static_cast<uint64_t>(width) * height <= PB_DIB_MAX_PIXELS ? PB_DIB : PB_OWNED;
}

uint64_t DibImageBytes(uint32_t width, uint32_t height) {
  uint64_t rowBytes = ((static_cast<uint64_t>(width) * 32 + 31) >> 3) & ~uint64_t{3};
  return rowBytes * height;
}

uint64_t ExternalSpanBytes(int32_t width, int32_t height, int32_t pitch) {
  if (width < 1 || height < 1 || pitch < width) return 0;
  uint64_t span = (static_cast<uint64_t>(pitch) * static_cast<uint64_t>(height - 1) + static_cast<uint64_t>(width)) * 4;
  if (span > static_cast<uint64_t>(PTRDIFF_MAX)) return 0;
  return span;
}
