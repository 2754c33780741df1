// The byte scan of a plug-in module: finds each PiPL name property and pairs
// it with the next code property of the wanted processor. Pure: no platform
// calls, no allocation, and no read outside [bytes, bytes + size).
#pragma once
#include <cstddef>
#include <cstdint>

// The texts of one pair, pointing into the scanned bytes. Neither is
// terminated; each is at most 255 bytes and holds no NUL.
struct PiplPair {
  const uint8_t* name;
  uint32_t nameLength;
  const uint8_t* entryPoint;
  uint32_t entryPointLength;
};

// Called for every pair whose texts are both non-empty, in file order.
// Answers 1 if the pair counts, 0 if not (e.g. its text converted to nothing).
using PiplPairSink = int (*)(void* context, const PiplPair* pair);

constexpr uint32_t PIPL_TEXT_MAX = 255;

// Scans the bytes with `codeSignature` (8 bytes) as the code property and
// answers the sum of the sink's answers. A null sink counts every pair.
uint32_t ScanPiplBytes(const uint8_t* bytes, size_t size, const uint8_t* codeSignature, PiplPairSink sink,
                       void* context);
