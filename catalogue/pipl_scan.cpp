#include "catalogue/pipl_scan.h"

#include <cstring>

#include "sdk/pipl.h"

// Positions are 64-bit even in the 32-bit build, so that a position plus a
// property length read from the file cannot wrap back into the buffer; any
// position at or past the end simply ends the scan.
namespace {

struct ScanBuffer {
  const uint8_t* bytes;
  uint64_t size;
};

// First position >= from where the 8-byte signature starts, or size when the
// end comes first. Only every eighth byte is looked at: each occurrence covers
// exactly one of them, and that byte tells which offsets within the signature
// it could stand at. The loads do not depend on each other, so this runs at
// memory speed rather than at load latency.
uint64_t FindSignature(const ScanBuffer& b, uint64_t from, const uint8_t* signature) {
  uint8_t offsets[256];  // bit k: the byte occurs at offset k of the signature
  memset(offsets, 0, sizeof(offsets));
  for (uint32_t k = 0; k < PIPL_SIGNATURE_BYTES; ++k) offsets[signature[k]] |= static_cast<uint8_t>(1u << k);
  const uint8_t* bytes = b.bytes;
  for (uint64_t probe = from; probe < b.size; probe += PIPL_SIGNATURE_BYTES) {
    const uint8_t hits = offsets[bytes[probe]];
    if (hits == 0) continue;
    // Earliest start first: the highest offset gives the lowest position.
    for (int k = PIPL_SIGNATURE_BYTES - 1; k >= 0; --k) {
      if ((hits & (1u << k)) == 0 || probe - from < static_cast<uint64_t>(k)) continue;
      const uint64_t at = probe - static_cast<uint64_t>(k);
      if (b.size - at >= PIPL_SIGNATURE_BYTES && memcmp(bytes + at, signature, PIPL_SIGNATURE_BYTES) == 0) return at;
    }
  }
  return b.size;
}

uint32_t ReadLength(const ScanBuffer& b, uint64_t signatureAt) {
  const uint8_t* p = b.bytes + signatureAt + PIPL_LENGTH_OFFSET;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Length of the text at `at`: at most `limit` bytes, never past a NUL or the
// end of the buffer.
uint32_t TextLength(const ScanBuffer& b, uint64_t at, uint64_t limit) {
  if (at >= b.size) return 0;
  uint64_t room = b.size - at;
  if (limit > room) limit = room;
  if (limit > PIPL_TEXT_MAX) limit = PIPL_TEXT_MAX;
  const void* nul = memchr(b.bytes + at, 0, static_cast<size_t>(limit));
  return static_cast<uint32_t>(nul != nullptr ? static_cast<const uint8_t*>(nul) - (b.bytes + at) : limit);
}

// A signature whose length field would lie outside the buffer ends the scan.
bool HasWholeHeader(const ScanBuffer& b, uint64_t signatureAt) {
  return b.size - signatureAt >= PIPL_PROPERTY_HEADER_BYTES;
}

}  // namespace

uint32_t ScanPiplBytes(const uint8_t* bytes, size_t size, const uint8_t* codeSignature, PiplPairSink sink,
                       void* context) {
  if (bytes == nullptr || codeSignature == nullptr) return 0;
  const ScanBuffer b{bytes, static_cast<uint64_t>(size)};
  uint32_t pairs = 0;
  uint64_t i = 0;
  for (;;) {
    i = FindSignature(b, i, kPiplNameSignature);
    if (i >= b.size || !HasWholeHeader(b, i)) break;

    // The name: a length byte, then at most that many bytes of the property.
    const uint64_t length = ReadLength(b, i);
    const uint64_t data = i + PIPL_PROPERTY_HEADER_BYTES;
    PiplPair pair{};
    if (data < b.size) {
      uint64_t limit = b.bytes[data];
      if (limit > length) limit = length;
      pair.name = b.bytes + data + 1;
      pair.nameLength = TextLength(b, data + 1, limit);
    }

    // Its entry point: the first code property of the wanted processor that
    // follows, wherever it is; names met on the way are passed over.
    const uint64_t j = FindSignature(b, data + length, codeSignature);
    if (j >= b.size || !HasWholeHeader(b, j)) break;
    const uint64_t length2 = ReadLength(b, j);
    pair.entryPoint = b.bytes + j + PIPL_PROPERTY_HEADER_BYTES;
    pair.entryPointLength = TextLength(b, j + PIPL_PROPERTY_HEADER_BYTES, length2);

    if (pair.nameLength > 0 && pair.entryPointLength > 0)
      pairs += sink != nullptr ? (sink(context, &pair) != 0 ? 1u : 0u) : 1u;
    // Resume right at the end of the code property: a name that follows it
    // directly must not be skipped.
    i = j + PIPL_PROPERTY_HEADER_BYTES + length2;
  }
  return pairs;
}
