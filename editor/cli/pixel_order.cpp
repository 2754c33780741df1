#include "editor/cli/pixel_order.h"

#include <cstring>

void SwapRedBlue(const uint8_t* source, uint8_t* target, size_t pixelCount) {
  // Whole pixels as 32-bit words (byte 0 in the low bits on this little-endian
  // platform): the compiler turns this loop into vector shuffles. memcpy keeps
  // the loads legal for any alignment; source and target may be the same.
  for (size_t i = 0; i < pixelCount; ++i) {
    uint32_t v;
    memcpy(&v, source + i * 4, 4);
    v = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
    memcpy(target + i * 4, &v, 4);
  }
}

void NarrowSamples(const uint8_t* source16, size_t sampleCount, uint8_t* target) {
  for (size_t i = 0; i < sampleCount; ++i) {
    uint16_t v;
    memcpy(&v, source16 + i * 2, 2);
    target[i] = static_cast<uint8_t>((v * 255u + 32767u) / 65535u);
  }
}

void ExpandToBgra(const uint8_t* source, int channels, size_t pixelCount, uint8_t* bgra) {
  for (size_t i = 0; i < pixelCount; ++i) {
    const uint8_t* s = source + i * static_cast<size_t>(channels);
    uint8_t* t = bgra + i * 4;
    switch (channels) {
      case 1: t[0] = t[1] = t[2] = s[0]; t[3] = 255; break;
      case 2: t[0] = t[1] = t[2] = s[0]; t[3] = s[1]; break;
      case 3: t[0] = s[2]; t[1] = s[1]; t[2] = s[0]; t[3] = 255; break;
      default: t[0] = s[2]; t[1] = s[1]; t[2] = s[0]; t[3] = s[3]; break;
    }
  }
}

void PackFromBgra(const uint8_t* bgra, size_t pixelCount, int channels, uint8_t* target) {
  if (channels == 4) {
    BgraToRgba(bgra, target, pixelCount);
    return;
  }
  for (size_t i = 0; i < pixelCount; ++i) {
    const uint8_t* s = bgra + i * 4;
    uint8_t* t = target + i * static_cast<size_t>(channels);
    switch (channels) {
      case 1: t[0] = s[1]; break;
      case 2: t[0] = s[1]; t[1] = s[3]; break;
      default: t[0] = s[2]; t[1] = s[1]; t[2] = s[0]; break;
    }
  }
}

int ChannelsToKeep(const uint8_t* bgra, size_t pixelCount, int sourceChannels) {
  bool grey = sourceChannels <= 2;
  bool alpha = sourceChannels == 2 || sourceChannels == 4;
  for (size_t i = 0; i < pixelCount && (grey || !alpha); ++i) {
    const uint8_t* p = bgra + i * 4;
    if (p[0] != p[1] || p[1] != p[2]) grey = false;
    if (p[3] != 255) alpha = true;
  }
  return (grey ? 1 : 3) + (alpha ? 1 : 0);
}
