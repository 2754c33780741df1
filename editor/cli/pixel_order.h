// Pixel order between image files (red, green, blue, alpha) and the server
// (blue, green, red, alpha). Alpha travels unchanged both ways.
#pragma once
#include <cstddef>
#include <cstdint>

// Swaps bytes 0 and 2 of every 4-byte pixel; the same swap goes both ways.
// `source` and `target` may be the same buffer.
void SwapRedBlue(const uint8_t* source, uint8_t* target, size_t pixelCount);

inline void RgbaToBgra(const uint8_t* rgba, uint8_t* bgra, size_t pixelCount) {
  SwapRedBlue(rgba, bgra, pixelCount);
}
inline void BgraToRgba(const uint8_t* bgra, uint8_t* rgba, size_t pixelCount) {
  SwapRedBlue(bgra, rgba, pixelCount);
}
