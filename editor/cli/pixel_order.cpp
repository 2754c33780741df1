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
