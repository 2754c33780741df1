// Fuzz target for the PiPL byte scan. Every input is scanned for both code
// signatures. ASan catches any read outside the input (libFuzzer hands over a
// heap block of exactly the input's size); the sink checks that each reported
// text lies inside the input, is 1..255 bytes and holds no NUL; and the pairs
// must match a plain byte-by-byte walk of the same rules, so that a scan that
// stops early or skips a pair is caught as well as one that reads too far.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "catalogue/pipl_scan.h"
#include "sdk/pipl.h"

namespace {

struct FoundPair {
  uint64_t nameAt;
  uint32_t nameLength;
  uint64_t entryAt;
  uint32_t entryLength;
  bool operator==(const FoundPair&) const = default;
};

struct SinkState {
  const uint8_t* begin;
  uint64_t size;
  std::vector<FoundPair> pairs;
  uint32_t counted;
};

[[noreturn]] void Fail(const char* what, uint64_t expected, uint64_t got) {
  fprintf(stderr, "pipl_scan_fuzz: %s: expected %llu, got %llu\n", what, static_cast<unsigned long long>(expected),
          static_cast<unsigned long long>(got));
  abort();
}

// Offset of [p, p + length) in the input, or fails when any of it lies outside.
uint64_t OffsetInside(const SinkState& s, const uint8_t* p, uint32_t length) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p), begin = reinterpret_cast<uintptr_t>(s.begin);
  if (p == nullptr || at < begin || at - begin > s.size || length > s.size - (at - begin))
    Fail("a reported text outside the input (offset)", s.size, at - begin);
  return at - begin;
}

void CheckText(const SinkState& s, const uint8_t* p, uint32_t length, const char* what) {
  OffsetInside(s, p, length);
  if (length == 0 || length > PIPL_TEXT_MAX) Fail(what, PIPL_TEXT_MAX, length);
  if (memchr(p, 0, length) != nullptr) Fail("a NUL inside a reported text (length)", 0, length);
}

// Counts two pairs of every three, so the scan's answer must follow the sink.
int RecordPair(void* context, const PiplPair* pair) {
  SinkState* s = static_cast<SinkState*>(context);
  CheckText(*s, pair->name, pair->nameLength, "name length");
  CheckText(*s, pair->entryPoint, pair->entryPointLength, "entry point length");
  s->pairs.push_back({OffsetInside(*s, pair->name, 0), pair->nameLength, OffsetInside(*s, pair->entryPoint, 0),
                      pair->entryPointLength});
  const int counts = s->pairs.size() % 3 != 0;
  s->counted += static_cast<uint32_t>(counts);
  return counts;
}

bool SignatureAt(const uint8_t* b, uint64_t size, uint64_t at, const uint8_t* signature) {
  return size - at >= PIPL_SIGNATURE_BYTES && memcmp(b + at, signature, PIPL_SIGNATURE_BYTES) == 0;
}

uint32_t U32At(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

uint32_t TextLength(const uint8_t* b, uint64_t size, uint64_t at, uint64_t limit) {
  uint32_t n = 0;
  while (n < limit && n < PIPL_TEXT_MAX && at + n < size && b[at + n] != 0) ++n;
  return n;
}

// The same rules, one byte at a time. A signature whose length field would
// lie past the end ends the walk.
std::vector<FoundPair> ReferenceWalk(const uint8_t* b, uint64_t size, const uint8_t* code) {
  std::vector<FoundPair> out;
  uint64_t i = 0;
  while (i < size) {
    if (!SignatureAt(b, size, i, kPiplNameSignature)) {
      ++i;
      continue;
    }
    if (size - i < PIPL_PROPERTY_HEADER_BYTES) break;
    const uint64_t length = U32At(b + i + PIPL_LENGTH_OFFSET), data = i + PIPL_PROPERTY_HEADER_BYTES;
    FoundPair pair{data + 1, 0, 0, 0};
    if (data < size) pair.nameLength = TextLength(b, size, data + 1, b[data] < length ? b[data] : length);
    uint64_t j = data + length;
    while (j < size && !SignatureAt(b, size, j, code)) ++j;
    if (j >= size || size - j < PIPL_PROPERTY_HEADER_BYTES) break;
    const uint64_t length2 = U32At(b + j + PIPL_LENGTH_OFFSET);
    pair.entryAt = j + PIPL_PROPERTY_HEADER_BYTES;
    pair.entryLength = TextLength(b, size, pair.entryAt, length2);
    if (pair.nameLength > 0 && pair.entryLength > 0) out.push_back(pair);
    i = j + PIPL_PROPERTY_HEADER_BYTES + length2;
  }
  return out;
}

void ScanWith(const uint8_t* data, size_t size, const uint8_t* code) {
  const std::vector<FoundPair> expected = ReferenceWalk(data, size, code);
  const uint32_t all = ScanPiplBytes(data, size, code, nullptr, nullptr);
  if (all != expected.size()) Fail("pairs counted without a sink", expected.size(), all);
  SinkState state{data, size, {}, 0};
  const uint32_t counted = ScanPiplBytes(data, size, code, RecordPair, &state);
  if (counted != state.counted) Fail("pairs the sink counted", state.counted, counted);
  if (state.pairs.size() != expected.size()) Fail("pairs reported to the sink", expected.size(), state.pairs.size());
  for (size_t k = 0; k < expected.size(); ++k) {
    const FoundPair& e = expected[k];
    const FoundPair& g = state.pairs[k];
    if (e.nameAt != g.nameAt) Fail("name offset", e.nameAt, g.nameAt);
    if (e.nameLength != g.nameLength) Fail("name length", e.nameLength, g.nameLength);
    if (e.entryAt != g.entryAt) Fail("entry point offset", e.entryAt, g.entryAt);
    if (e.entryLength != g.entryLength) Fail("entry point length", e.entryLength, g.entryLength);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScanWith(data, size, kPiplCode8664Signature);
  ScanWith(data, size, kPiplCodeWx86Signature);
  return 0;
}
