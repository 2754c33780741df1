// Filtered scaling between pixel buffers: bilinear when enlarging in either
// direction, a four-sample box average when reducing in both; equal sizes are
// plain copies. Arguments as CopyRegion; all four bytes are filtered alike.
#pragma once
#include <cstdint>

struct PixelBuffer;

int ResampleRegion(PixelBuffer* destination, int32_t ignoredX, int32_t ignoredY, int32_t maxX, int32_t maxY,
                   PixelBuffer* source, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t flags);

// The per-pixel filters, exposed for tests: the bilinear blend of four
// pixels with fractions fx, fy in 1/256, and the truncated average of four.
uint32_t BlendBilinear(uint32_t p00, uint32_t p01, uint32_t p10, uint32_t p11, uint32_t fx, uint32_t fy);
uint32_t AverageFour(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
