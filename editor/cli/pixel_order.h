// Pixel order between image files (grey, grey and alpha, red-green-blue,
// with alpha or not, 8 or 16 bits) and the server (blue, green, red, alpha,
// 8 bits). Alpha travels unchanged both ways.
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

// 16-bit samples (native byte order, any alignment) to 8 bits, rounded to
// the nearest: v × 255 / 65535. `target` may be `source`: each byte is
// written only after the samples that share its place were read.
void NarrowSamples(const uint8_t* source16, size_t sampleCount, uint8_t* target);

// Pixels of 1 to 4 channels in file order (grey; grey, alpha; red, green,
// blue; red, green, blue, alpha) to blue, green, red, alpha; no alpha is 255.
void ExpandToBgra(const uint8_t* source, int channels, size_t pixelCount, uint8_t* bgra);

// The reverse, for 1 to 4 channels; grey takes the green byte.
void PackFromBgra(const uint8_t* bgra, size_t pixelCount, int channels, uint8_t* target);

// How many channels a file of the result keeps, given the channels of the
// file it came from: grey stays grey while every pixel is still grey, and a
// file without alpha gets none while every pixel is still opaque. Anything
// else takes what the pixels need.
int ChannelsToKeep(const uint8_t* bgra, size_t pixelCount, int sourceChannels);
