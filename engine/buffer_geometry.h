// Size arithmetic of pixel buffers, free of system calls so that it can be
// tested and fuzzed directly. Everything taken from a caller is widened to 64
// bits before it is multiplied.
#pragma once
#include <cstdint>

struct BufferSize {
  uint32_t width;
  uint32_t height;
  bool reduced;
};

// The size a buffer of |width| x |height| gets: at most 250,000,000 pixels and
// 65,536 per side, each side at least 1. False when a side is 0.
bool ComputeBufferSize(int32_t width, int32_t height, BufferSize* size);

// The size of a buffer that is never reduced: |width| x |height|. False when
// a side is 0.
bool ExactBufferSize(int32_t width, int32_t height, BufferSize* size);

// Bytes of owned storage for that size (the pixels and 16 more); 0 when the
// count does not fit 64 bits.
uint64_t OwnedStorageBytes(uint32_t width, uint32_t height);

// The storage kind (PB_DIB or PB_OWNED) for a buffer of that size.
uint8_t ChooseStorageKind(uint32_t width, uint32_t height, int32_t flags);

// Bytes of a top-down 32-bit DIB of that size (rows padded to 4 bytes).
uint64_t DibImageBytes(uint32_t width, uint32_t height);

// Bytes from the first pixel to the end of the last row of caller memory
// described by width, height and pitch (pixels); 0 when they are not a
// usable description (a side below 1, pitch below width, or a span that
// does not fit this build's address space).
uint64_t ExternalSpanBytes(int32_t width, int32_t height, int32_t pitch);
