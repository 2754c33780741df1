// Fuzz target for the PiPL resource reader. Every input is read as a module
// for both processors, and as one PiPL body by itself. ASan catches any read
// outside the input (libFuzzer hands over a heap block of exactly the input's
// size) and libFuzzer's time limit a walk that does not end. Each reported
// pair must lie inside the PiPL it names, which must lie inside the input,
// and must be what a plain reading of that PiPL's property list gives; the
// report must agree with what the sink saw, and a module of another
// processor must give nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "catalogue/pipl_resources.h"
#include "sdk/pipl.h"

namespace {

[[noreturn]] void Fail(const char* what, uint64_t expected, uint64_t got) {
  fprintf(stderr, "pipl_resources_fuzz: %s: expected %llu, got %llu\n", what, static_cast<unsigned long long>(expected),
          static_cast<unsigned long long>(got));
  abort();
}

bool Within(const uint8_t* outer, uint64_t outerSize, const uint8_t* p, uint64_t length) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p), begin = reinterpret_cast<uintptr_t>(outer);
  return p != nullptr && at >= begin && at - begin <= outerSize && length <= outerSize - (at - begin);
}

uint32_t U32At(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

struct Expected {
  bool found;
  uint64_t nameAt, nameLength, entryAt, entryLength;  // offsets in the body
};

// The property list read plainly: first every property's place, then the
// first of each kind; one byte at a time for the texts.
Expected ReferenceProperties(const uint8_t* b, uint64_t size, uint16_t machine) {
  Expected none{false, 0, 0, 0, 0};
  const uint8_t* code = machine == PE_MACHINE_X64 ? kPiplCode8664Signature
                        : machine == PE_MACHINE_X86 ? kPiplCodeWx86Signature
                                                     : nullptr;
  if (code == nullptr || size < 10) return none;
  struct Place {
    uint64_t header, length;
  };
  std::vector<Place> places;
  uint64_t at = 10;
  for (uint64_t k = 0, count = U32At(b + 6); k < count; ++k) {
    if (at + 16 > size) return none;
    const uint64_t length = U32At(b + at + 12);
    if (at + 16 + length > size) return none;
    places.push_back({at, length});
    at += 16 + length;
    while ((at - 10) % 4 != 0) ++at;  // padding, counted from the list's start
  }
  Expected e = none;
  bool name = false, entry = false;
  for (const Place& p : places) {
    if (!name && memcmp(b + p.header, kPiplNameSignature, 8) == 0) {
      name = true;
      const uint64_t data = p.header + 16;
      uint64_t n = 0;
      if (p.length > 0)
        while (n < b[data] && n + 1 < p.length && n < 255 && b[data + 1 + n] != 0) ++n;
      e.nameAt = data + 1;
      e.nameLength = n;
    } else if (!entry && memcmp(b + p.header, code, 8) == 0) {
      entry = true;
      uint64_t n = 0;
      while (n < p.length && n < 255 && b[p.header + 16 + n] != 0) ++n;
      e.entryAt = p.header + 16;
      e.entryLength = n;
    }
  }
  e.found = e.nameLength > 0 && e.entryLength > 0;
  return e.found ? e : none;
}

void CheckPair(const PiplPair& p, uint16_t machine) {
  if (p.nameLength == 0 || p.nameLength > PIPL_TEXT_MAX) Fail("name length", PIPL_TEXT_MAX, p.nameLength);
  if (p.entryPointLength == 0 || p.entryPointLength > PIPL_TEXT_MAX)
    Fail("entry point length", PIPL_TEXT_MAX, p.entryPointLength);
  if (!Within(p.pipl, p.piplSize, p.name, p.nameLength)) Fail("a name outside its PiPL (length)", 0, p.nameLength);
  if (!Within(p.pipl, p.piplSize, p.entryPoint, p.entryPointLength))
    Fail("an entry point outside its PiPL (length)", 0, p.entryPointLength);
  if (memchr(p.name, 0, p.nameLength) != nullptr || memchr(p.entryPoint, 0, p.entryPointLength) != nullptr)
    Fail("a NUL inside a reported text (machine)", 0, machine);
  const Expected e = ReferenceProperties(p.pipl, p.piplSize, machine);
  if (!e.found) Fail("a pair where a plain reading finds none (PiPL size)", 0, p.piplSize);
  if (e.nameAt != static_cast<uint64_t>(p.name - p.pipl)) Fail("name offset", e.nameAt, p.name - p.pipl);
  if (e.nameLength != p.nameLength) Fail("name length", e.nameLength, p.nameLength);
  if (e.entryAt != static_cast<uint64_t>(p.entryPoint - p.pipl)) Fail("entry offset", e.entryAt, p.entryPoint - p.pipl);
  if (e.entryLength != p.entryPointLength) Fail("entry length", e.entryLength, p.entryPointLength);
}

struct SinkState {
  const uint8_t* input;
  uint64_t size;
  uint16_t machine;
  uint32_t offered;
  uint32_t counted;
};

// Counts two pairs of every three, so the answer must follow the sink.
int RecordPair(void* context, const PiplPair* pair) {
  SinkState* s = static_cast<SinkState*>(context);
  if (!Within(s->input, s->size, pair->pipl, pair->piplSize)) Fail("a PiPL outside the input (size)", 0, pair->piplSize);
  CheckPair(*pair, s->machine);
  ++s->offered;
  const int counts = s->offered % 3 != 0;
  s->counted += static_cast<uint32_t>(counts);
  return counts;
}

void ReadAsModule(const uint8_t* data, size_t size, uint16_t machine) {
  SinkState state{data, size, machine, 0, 0};
  PiplModuleReport report;
  memset(&report, 0xCD, sizeof(report));
  const uint32_t counted = ReadModulePipls(data, size, machine, RecordPair, &state, &report);
  if (counted != state.counted) Fail("pairs the sink counted", state.counted, counted);
  if (report.pairs != state.offered) Fail("pairs in the report", state.offered, report.pairs);
  if (report.resources < report.pairs) Fail("resources below pairs", report.pairs, report.resources);
  if (report.machine != ReadPeMachine(data, size)) Fail("machine in the report", ReadPeMachine(data, size), report.machine);
  if (report.status != PIPL_MODULE_READ && (state.offered != 0 || report.resources != 0))
    Fail("pairs from a module not read (status)", PIPL_MODULE_READ, report.status);
  if (report.status == PIPL_MODULE_READ && report.machine != machine)
    Fail("a module of another processor read (machine)", machine, report.machine);
  if (report.status > PIPL_OTHER_PROCESSOR || report.walkEnd > PIPL_WALK_MISPLACED)
    Fail("report codes (status)", 0, report.status);
  if (ReadModulePipls(data, size, machine, nullptr, nullptr, nullptr) != state.offered)
    Fail("pairs without a sink", state.offered, ReadModulePipls(data, size, machine, nullptr, nullptr, nullptr));
}

void ReadAsBody(const uint8_t* data, size_t size, uint16_t machine) {
  PiplPair pair;
  memset(&pair, 0xCD, sizeof(pair));
  const int found = ReadPiplProperties(data, size, machine, &pair);
  const Expected e = ReferenceProperties(data, size, machine);
  if (found != static_cast<int>(e.found)) Fail("a body's pair found", e.found, found);
  if (!found) {
    if (pair.name != nullptr || pair.pipl != nullptr) Fail("fields left set on a refused body", 0, pair.nameLength);
    return;
  }
  if (pair.pipl != data || pair.piplSize != size) Fail("the body's place", size, pair.piplSize);
  CheckPair(pair, machine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (uint16_t machine : {PE_MACHINE_X64, PE_MACHINE_X86}) {
    ReadAsModule(data, size, machine);
    ReadAsBody(data, size, machine);
  }
  return 0;
}
