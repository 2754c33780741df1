#include "editor/cli/pixel_order.h"

void SwapRedBlue(const uint8_t* source, uint8_t* target, size_t pixelCount) {
  for (size_t i = 0; i < pixelCount; ++i) {
    const uint8_t* s = source + i * 4;
    uint8_t* t = target + i * 4;
    // Read all four first: source and target may overlap exactly.
    uint8_t c0 = s[0], c1 = s[1], c2 = s[2], c3 = s[3];
    t[0] = c2;
    t[1] = c1;
    t[2] = c0;
    t[3] = c3;
  }
}
