// The PiPL resource reader on hand-made PiPLs and module images, for both
// processors.
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/pipl_resources.h"
#include "gtest/gtest.h"
#include "sdk/pipl.h"
#include "base/guard.h"
#include "tests/catalogue/pe_image.h"
#include "tests/support/caller.h"

namespace {

const uint8_t* const kX64 = kPiplCode8664Signature;
const uint8_t* const kX86 = kPiplCodeWx86Signature;

using Pair = std::pair<std::string, std::string>;

// The whole literal, NULs included, without its terminator.
template <size_t N>
Bytes Text(const char (&s)[N]) {
  return Bytes(s, s + N - 1);
}

// The pair of one PiPL body, or {"-", "-"} when it gives none.
Pair Properties(const Bytes& b, uint16_t machine, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  PiplPair p;
  memset(&p, 0xCD, sizeof(p));  // a sentinel: every field must be written
  if (!ReadPiplProperties(b.data(), b.size(), machine, &p)) {
    EXPECT_EQ(nullptr, p.name) << "a refused PiPL left its fields set";
    EXPECT_EQ(0u, p.nameLength + p.entryPointLength + p.piplSize);
    return {"-", "-"};
  }
  EXPECT_EQ(b.data(), p.pipl);
  EXPECT_EQ(b.size(), p.piplSize);
  return {std::string(reinterpret_cast<const char*>(p.name), p.nameLength),
          std::string(reinterpret_cast<const char*>(p.entryPoint), p.entryPointLength)};
}

struct Walked {
  std::vector<Pair> pairs;
  PiplModuleReport report;
  uint32_t counted;
};

int Collect(void* context, const PiplPair* pair) {
  static_cast<std::vector<Pair>*>(context)->emplace_back(
      std::string(reinterpret_cast<const char*>(pair->name), pair->nameLength),
      std::string(reinterpret_cast<const char*>(pair->entryPoint), pair->entryPointLength));
  return 1;
}

Walked Walk(const Bytes& b, uint16_t machine) {
  Walked w;
  memset(&w.report, 0xCD, sizeof(w.report));
  w.counted = ReadModulePipls(b.data(), b.size(), machine, Collect, &w.pairs, &w.report);
  return w;
}

// Copies bytes so that they end exactly where an inaccessible page begins:
// any read past the end faults instead of passing unnoticed.
struct FencedBuffer {
  uint8_t* base = nullptr;
  size_t pageBytes = 0;
  explicit FencedBuffer(size_t capacity) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    pageBytes = ((capacity + info.dwPageSize - 1) / info.dwPageSize + 1) * info.dwPageSize;
    base = static_cast<uint8_t*>(VirtualAlloc(nullptr, pageBytes + info.dwPageSize, MEM_COMMIT | MEM_RESERVE,
                                              PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + pageBytes, info.dwPageSize, PAGE_NOACCESS, &old);
  }
  ~FencedBuffer() { VirtualFree(base, 0, MEM_RELEASE); }
  const uint8_t* Place(const uint8_t* bytes, size_t n) {
    uint8_t* at = base + pageBytes - n;
    memcpy(at, bytes, n);
    return at;
  }
  // The fence itself must fault, or the tests prove nothing.
  bool Faults() {
    const uint8_t* end = Place(nullptr, 0);
    return !Guarded([&] { *reinterpret_cast<volatile const uint8_t*>(end); });
  }
};

// Reads every prefix of `b` fenced at its end with `read`; false on a fault.
bool EveryPrefixStaysInside(const Bytes& b, const std::function<void(const uint8_t*, size_t)>& read,
                            CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  FencedBuffer fence(b.size());
  if (!fence.Faults()) {
    ADD_FAILURE() << "expected a fault one byte past the buffer, got none";
    return false;
  }
  for (size_t n = 0; n <= b.size(); ++n) {
    const uint8_t* at = fence.Place(b.data(), n);
    if (!Guarded([&] { read(at, n); })) {
      ADD_FAILURE() << "the read of the first " << n << " of " << b.size() << " bytes went outside the buffer";
      return false;
    }
  }
  return true;
}

ImagePlan ThreePipls(uint16_t machine = PE_MACHINE_X64, bool pe32plus = true) {
  ImagePlan plan;
  plan.machine = machine;
  plan.pe32plus = pe32plus;
  plan.pipls = {{16000, {MakePipl("First", {{kX86, "FirstX86"}, {kX64, "FirstX64"}})}},
                {16001, {MakePipl("Second", {{kX64, "SecondX64"}, {kX86, "SecondX86"}})}},
                {16002, {MakePipl("Third", {{kX86, "ThirdX86"}, {kX64, "ThirdX64"}})}}};
  return plan;
}

const std::vector<Pair> kThreeX64 = {{"First", "FirstX64"}, {"Second", "SecondX64"}, {"Third", "ThirdX64"}};

}  // namespace

// ---- One PiPL's properties ----

TEST(PiplProperties, NameAndCodeOfTheProcessorInWhicheverOrder) {
  struct Case {
    const char* what;
    Bytes bytes;
    Pair x64, x86;
  } cases[] = {
      {"name, then both codes", {}, {"Blur", "MainX64"}, {"Blur", "MainX86"}},
      {"codes before the name", {}, {"Late", "LateX64"}, {"Late", "LateX86"}},
      {"only the other processor's code", {}, {"-", "-"}, {"Early", "EarlyX86"}},
      {"the first name and the first code count", {}, {"A", "First"}, {"-", "-"}},
      {"another vendor's or a near key is not read", {}, {"Real", "RealMain"}, {"-", "-"}},
      {"a name without a code", {}, {"-", "-"}, {"-", "-"}},
      {"an empty name or entry point", {}, {"-", "-"}, {"-", "-"}},
  };
  cases[0].bytes = MakePipl("Blur", {{kX86, "MainX86"}, {kX64, "MainX64"}});
  Bytes& b = cases[1].bytes = PiplHeader(4);
  CodeProperty(b, kX64, "LateX64");
  CodeProperty(b, kX86, "LateX86");
  Property(b, reinterpret_cast<const uint8_t*>("MIB8dnik"), 4, Text("MFB8"));
  NameProperty(b, "Late");
  cases[2].bytes = MakePipl("Early", {{kX86, "EarlyX86"}});
  Bytes& d = cases[3].bytes = PiplHeader(4);
  CodeProperty(d, kX64, "First");
  NameProperty(d, "A");
  NameProperty(d, "B");
  CodeProperty(d, kX64, "Second");
  Bytes& e = cases[4].bytes = PiplHeader(5);
  // Near misses first: vendor '8BIX', key 'nama', key '8665'.
  Property(e, reinterpret_cast<const uint8_t*>("XIB8eman"), 8, Text("\004Fake\0\0\0"));
  Property(e, reinterpret_cast<const uint8_t*>("MIB8aman"), 8, Text("\004Fake\0\0\0"));
  Property(e, reinterpret_cast<const uint8_t*>("MIB85668"), 8, Text("Fake\0\0\0\0"));
  NameProperty(e, "Real");
  CodeProperty(e, kX64, "RealMain");
  cases[5].bytes = MakePipl("Lonely", {});
  Bytes& g = cases[6].bytes = PiplHeader(4);
  NameProperty(g, "");
  CodeProperty(g, kX86, "");
  Property(g, kX64, 0, {});
  NameProperty(g, "Ignored");  // not the first name
  for (const Case& c : cases) {
    EXPECT_EQ(c.x64, Properties(c.bytes, PE_MACHINE_X64)) << c.what;
    EXPECT_EQ(c.x86, Properties(c.bytes, PE_MACHINE_X86)) << c.what;
    EXPECT_EQ(Pair("-", "-"), Properties(c.bytes, 0xAA64)) << c.what << ": no code property for ARM64";
  }
}

TEST(PiplProperties, NameStopsAtItsLengthByteThePropertyANulOrTheLimit) {
  struct Case {
    uint8_t lengthByte;
    uint32_t propertyLength;
    std::string text;
    std::string expected;
  } cases[] = {
      {5, 12, "Sharpen More", "Sharp"},                     // the length byte is shorter
      {10, 3, "Sharpen More", "Sh"},                        // the property is shorter: 3 bytes hold 2 characters
      {10, 12, std::string("Shar\0pen More", 13), "Shar"},  // a NUL comes first
      {255, 400, std::string(300, 'n'), std::string(255, 'n')},
      {4, 1, "Blur", ""},                                   // only the length byte
      {4, 0, "Blur", ""},
  };
  for (const Case& c : cases) {
    Bytes b = PiplHeader(2);
    Bytes data(c.text.begin(), c.text.end());
    data.insert(data.begin(), c.lengthByte);
    data.resize(c.propertyLength, 0);  // the stated length, whatever the text
    Property(b, kPiplNameSignature, c.propertyLength, data);
    b.resize(b.size() + (4 - c.propertyLength % 4) % 4, 0);
    CodeProperty(b, kX64, "Main");
    Pair expected = c.expected.empty() ? Pair("-", "-") : Pair(c.expected, "Main");
    EXPECT_EQ(expected, Properties(b, PE_MACHINE_X64))
        << "length byte " << int(c.lengthByte) << ", property " << c.propertyLength;
  }
  // Entry points: up to the first NUL, or the whole property without one.
  Bytes b = PiplHeader(2);
  NameProperty(b, "N");
  Property(b, kX64, 8, Text("Main\0Two"));
  EXPECT_EQ(Pair("N", "Main"), Properties(b, PE_MACHINE_X64));
  Bytes full = PiplHeader(2);
  NameProperty(full, "N");
  Property(full, kX64, 8, Text("MainMain"));
  EXPECT_EQ(Pair("N", "MainMain"), Properties(full, PE_MACHINE_X64));
}

TEST(PiplProperties, CountsAndLengthsPastTheEndGiveNoPair) {
  for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, 0x7FFFFFFFu, 64u}) {
    Bytes name = PiplHeader(2);
    Property(name, kPiplNameSignature, huge, Text("\004Blur\0\0\0"));
    CodeProperty(name, kX64, "Main");
    EXPECT_EQ(Pair("-", "-"), Properties(name, PE_MACHINE_X64)) << "name length " << huge;
    Bytes code = PiplHeader(2);
    NameProperty(code, "Blur");
    Property(code, kX64, huge, Text("Main\0\0\0\0"));
    EXPECT_EQ(Pair("-", "-"), Properties(code, PE_MACHINE_X64)) << "code length " << huge;
    // A property not otherwise read spoils it too, before or after the pair.
    Bytes other = MakePipl("Blur", {{kX64, "Main"}});
    Property(other, reinterpret_cast<const uint8_t*>("MIB8gtac"), huge, Text("\004Blur\0\0\0"));
    Set32(other, PIPL_COUNT_OFFSET, 3);
    EXPECT_EQ(Pair("-", "-"), Properties(other, PE_MACHINE_X64)) << "other length " << huge;
    Bytes counted = MakePipl("Blur", {{kX64, "Main"}});
    Set32(counted, PIPL_COUNT_OFFSET, huge);
    EXPECT_EQ(Pair("-", "-"), Properties(counted, PE_MACHINE_X64)) << "count " << huge;
  }
  // Every cut of a whole PiPL lacks a property or part of one.
  Bytes whole = MakePipl("Blur", {{kX86, "X86"}, {kX64, "PluginMain"}});
  for (size_t n = 0; n < whole.size(); ++n)
    EXPECT_EQ(Pair("-", "-"), Properties(Bytes(whole.begin(), whole.begin() + n), PE_MACHINE_X64)) << n << " bytes";
  // Trailing bytes after the counted properties are not looked at.
  whole.insert(whole.end(), {'M', 'I', 'B'});
  EXPECT_EQ(Pair("Blur", "PluginMain"), Properties(whole, PE_MACHINE_X64));
  EXPECT_TRUE(EveryPrefixStaysInside(whole, [](const uint8_t* p, size_t n) {
    PiplPair pair;
    ReadPiplProperties(p, n, PE_MACHINE_X64, &pair);
    ReadPiplProperties(p, n, PE_MACHINE_X86, &pair);
  }));
  EXPECT_EQ(0, ReadPiplProperties(nullptr, 100, PE_MACHINE_X64, nullptr));
}

TEST(PiplProperties, LengthsWithOrWithoutPaddingAtAnyAlignment) {
  // Lengths stated short of the padding, and the list only 2-byte aligned
  // after the leading word: read wherever the body lies.
  Bytes b = PiplHeader(3);
  Property(b, kPiplNameSignature, 5, Text("\004Odds\0\0\0"));
  Property(b, reinterpret_cast<const uint8_t*>("MIB8gtac"), 6, Text("\005Tests\0\0"));
  Property(b, kX64, 11, Text("PluginMain\0\0"));
  for (size_t offset = 0; offset < 8; ++offset) {
    Bytes shifted(offset, 0xA5);
    shifted.insert(shifted.end(), b.begin(), b.end());
    PiplPair p;
    ASSERT_EQ(1, ReadPiplProperties(shifted.data() + offset, b.size(), PE_MACHINE_X64, &p)) << "offset " << offset;
    EXPECT_EQ("Odds", std::string(reinterpret_cast<const char*>(p.name), p.nameLength)) << "offset " << offset;
  }
}

// ---- The module's resources ----

TEST(PiplResources, OneEntryPerPiplForTheModulesOwnProcessor) {
  struct Case {
    const char* what;
    ImagePlan plan;
    std::vector<Pair> x64, x86;
    uint32_t resources;
  } cases[] = {
      {"three PiPLs, x64", ThreePipls(), kThreeX64, {}, 3},
      {"three PiPLs, x86 (PE32)",
       ThreePipls(PE_MACHINE_X86, false),
       {},
       {{"First", "FirstX86"}, {"Second", "SecondX86"}, {"Third", "ThirdX86"}},
       3},
      {"ARM64", ThreePipls(0xAA64), {}, {}, 0},
  };
  for (Case& c : cases) {
    for (uint16_t machine : {PE_MACHINE_X64, PE_MACHINE_X86}) {
      Walked w = Walk(BuildImage(c.plan).bytes, machine);
      const std::vector<Pair>& expected = machine == PE_MACHINE_X64 ? c.x64 : c.x86;
      EXPECT_EQ(expected, w.pairs) << c.what << ", read for " << std::hex << machine;
      EXPECT_EQ(expected.size(), w.counted) << c.what;
      EXPECT_EQ(c.plan.machine, w.report.machine) << c.what;
      const uint32_t status = c.plan.machine == machine ? PIPL_MODULE_READ : PIPL_OTHER_PROCESSOR;
      EXPECT_EQ(status, w.report.status) << c.what << ", read for " << std::hex << machine;
      EXPECT_EQ(uint32_t{PIPL_WALK_WHOLE}, w.report.walkEnd) << c.what;
      EXPECT_EQ(status == PIPL_MODULE_READ ? c.resources : 0u, w.report.resources) << c.what;
      EXPECT_EQ(expected.size(), w.report.pairs) << c.what;
    }
  }
}

TEST(PiplResources, OnlyPiplResourcesDeclareAndEachIdOnce) {
  struct Case {
    const char* what;
    ImagePlan plan;
    std::vector<Pair> expected;
    uint32_t resources;
  } cases[] = {
      {"properties in a resource of another type", {}, {{"Real", "RealMain"}}, 1},
      {"one id in two languages", {}, {{"English", "Main"}}, 1},
      {"the type name in lower case", {}, {{"Lower", "Main"}}, 1},
      {"a type named otherwise", {}, {}, 0},
      {"PiPLs without a pair still count as resources", {}, {{"Good", "Main"}}, 3},
  };
  cases[0].plan.pipls = {{16000, {MakePipl("Real", {{kX64, "RealMain"}})}}};
  cases[0].plan.others = {{1, {MakePipl("Ghost", {{kX64, "GhostMain"}})}}};
  cases[1].plan.pipls = {{16000, {MakePipl("English", {{kX64, "Main"}}), MakePipl("Deutsch", {{kX64, "Main"}})}}};
  cases[2].plan.typeName = u"pipl";
  cases[2].plan.pipls = {{16000, {MakePipl("Lower", {{kX64, "Main"}})}}};
  cases[3].plan.typeName = u"PIPX";
  cases[3].plan.pipls = {{16000, {MakePipl("Never", {{kX64, "Main"}})}}};
  Bytes truncated = MakePipl("Cut", {{kX64, "Main"}});
  truncated.resize(truncated.size() - 1);
  cases[4].plan.pipls = {{16000, {MakePipl("Other", {{kX86, "Main"}})}},
                         {16001, {truncated}},
                         {16002, {MakePipl("Good", {{kX64, "Main"}})}}};
  for (const Case& c : cases) {
    Walked w = Walk(BuildImage(c.plan).bytes, PE_MACHINE_X64);
    EXPECT_EQ(c.expected, w.pairs) << c.what;
    EXPECT_EQ(c.resources, w.report.resources) << c.what;
    EXPECT_EQ(uint32_t{PIPL_WALK_WHOLE}, w.report.walkEnd) << c.what;
  }
}

TEST(PiplResources, HeadersThatHoldNoModule) {
  const BuiltImage good = BuildImage(ThreePipls());
  const uint64_t pe = 0x40, optional = pe + 24;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    uint32_t status;
    uint32_t pairs;
  } cases[] = {
      {"whole", [](Bytes&) {}, PIPL_MODULE_READ, 3},
      {"no MZ", [](Bytes& b) { b[1] = 'X'; }, PIPL_NOT_A_MODULE, 0},
      {"PE offset near 4 GiB", [](Bytes& b) { Set32(b, 0x3C, 0xFFFFFFFC); }, PIPL_NOT_A_MODULE, 0},
      {"PE offset past the end", [](Bytes& b) { Set32(b, 0x3C, static_cast<uint32_t>(b.size())); }, PIPL_NOT_A_MODULE, 0},
      {"no PE signature", [](Bytes& b) { b[pe + 1] = 'X'; }, PIPL_NOT_A_MODULE, 0},
      {"optional header past the end", [](Bytes& b) { b[pe + 20] = 0xFF; b[pe + 21] = 0xFF; b.resize(0x200); },
       PIPL_NOT_A_MODULE, 0},
      {"unknown optional header", [](Bytes& b) { b[optional + 1] = 0x03; }, PIPL_NOT_A_MODULE, 0},
      {"section table past the end", [](Bytes& b) { b[pe + 6] = 0xFF; b[pe + 7] = 0xFF; }, PIPL_NOT_A_MODULE, 0},
      // No resource directory is a module without PiPLs.
      {"two data directories", [](Bytes& b) { Set32(b, optional + 108, 2); }, PIPL_MODULE_READ, 0},
      {"optional header too short for the directory",
       [&](Bytes& b) { b[pe + 20] = static_cast<uint8_t>(good.resourceDirectoryAt - optional + 4); }, PIPL_MODULE_READ, 0},
      {"resource directory at 0", [&](Bytes& b) { Set32(b, good.resourceDirectoryAt, 0); }, PIPL_MODULE_READ, 0},
  };
  for (const Case& c : cases) {
    Bytes b = good.bytes;
    c.damage(b);
    Walked w = Walk(b, PE_MACHINE_X64);
    EXPECT_EQ(c.status, w.report.status) << c.what;
    EXPECT_EQ(c.pairs, w.counted) << c.what;
  }
}

TEST(PiplResources, BrokenDirectoriesEndTheWalk) {
  // Three PiPLs; the second one's path through the tree is broken, so the
  // first is listed and the third is never reached.
  const BuiltImage good = BuildImage(ThreePipls());
  const uint32_t kSub = 0x80000000u;
  const uint32_t typeDirectory = good.OffsetOf(good.typeDirectoryAt);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    uint32_t end;
    size_t pairs;
  } cases[] = {
      {"whole", [](Bytes&) {}, PIPL_WALK_WHOLE, 3},
      {"id leads back to the type directory",
       [&](Bytes& b) { Set32(b, good.idEntryAt[1] + 4, kSub | typeDirectory); }, PIPL_WALK_LOOP, 1},
      {"id leads back to the root", [&](Bytes& b) { Set32(b, good.idEntryAt[1] + 4, kSub); }, PIPL_WALK_LOOP, 1},
      {"language leads back to its own directory",
       [&](Bytes& b) { Set32(b, good.languageEntryAt[1] + 4, kSub | good.OffsetOf(good.languageEntryAt[1] - 16)); },
       PIPL_WALK_LOOP, 1},
      {"language leads back to the type directory",
       [&](Bytes& b) { Set32(b, good.languageEntryAt[1] + 4, kSub | typeDirectory); }, PIPL_WALK_LOOP, 1},
      {"type leads back to the root", [&](Bytes& b) { Set32(b, good.typeEntryAt + 4, kSub); }, PIPL_WALK_LOOP, 0},
      {"language leads to another directory",
       [&](Bytes& b) { Set32(b, good.languageEntryAt[1] + 4, kSub | good.OffsetOf(good.languageEntryAt[2] - 16)); },
       PIPL_WALK_MISPLACED, 1},
      {"id leads to data", [&](Bytes& b) { Set32(b, good.idEntryAt[1] + 4, good.OffsetOf(good.dataEntryAt[1])); },
       PIPL_WALK_MISPLACED, 1},
      {"type leads to data", [&](Bytes& b) { Set32(b, good.typeEntryAt + 4, 0x40); }, PIPL_WALK_MISPLACED, 0},
      {"id points past the section", [&](Bytes& b) { Set32(b, good.idEntryAt[1] + 4, kSub | 0x7FFF0000); },
       PIPL_WALK_OUTSIDE, 1},
      {"language points past the section", [&](Bytes& b) { Set32(b, good.languageEntryAt[1] + 4, 0x7FFFFFF0); },
       PIPL_WALK_OUTSIDE, 1},
      {"data at an address no section holds", [&](Bytes& b) { Set32(b, good.dataEntryAt[1], 0x00FF0000); },
       PIPL_WALK_OUTSIDE, 1},
      {"data in the headers", [&](Bytes& b) { Set32(b, good.dataEntryAt[1], 0x40); }, PIPL_WALK_OUTSIDE, 1},
      {"data longer than the section", [&](Bytes& b) { Set32(b, good.dataEntryAt[1] + 4, 0xFFFFFFF0); },
       PIPL_WALK_OUTSIDE, 1},
      {"type directory counts more entries than there are bytes",
       [&](Bytes& b) { b[good.typeDirectoryAt + 14] = 0xFF; b[good.typeDirectoryAt + 15] = 0xFF; }, PIPL_WALK_OUTSIDE,
       0},
      {"type name points past the section", [&](Bytes& b) { Set32(b, good.typeEntryAt, kSub | 0x7FFFFF00); },
       PIPL_WALK_OUTSIDE, 0},
      {"section's bytes lie past the end of the file",
       [&](Bytes& b) { Set32(b, good.sectionHeaderAt + 20, static_cast<uint32_t>(b.size())); }, PIPL_WALK_OUTSIDE, 0},
      {"section's raw size past the end of the file: what the file holds is read",
       [&](Bytes& b) {
         Set32(b, good.sectionHeaderAt + 8, 0);
         Set32(b, good.sectionHeaderAt + 16, 0x7FFFFFFF);
       },
       PIPL_WALK_WHOLE, 3},
      // Bytes of the section beyond what the file holds are zeros in memory.
      {"virtual size cuts the section before the second PiPL",
       [&](Bytes& b) { Set32(b, good.sectionHeaderAt + 8, good.OffsetOf(good.dataAt[1])); }, PIPL_WALK_OUTSIDE, 1},
  };
  for (const Case& c : cases) {
    Bytes b = good.bytes;
    c.damage(b);
    Walked w = Walk(b, PE_MACHINE_X64);
    EXPECT_EQ(c.end, w.report.walkEnd) << c.what;
    EXPECT_EQ(std::vector<Pair>(kThreeX64.begin(), kThreeX64.begin() + c.pairs), w.pairs) << c.what;
    EXPECT_EQ(uint32_t{PIPL_MODULE_READ}, w.report.status) << c.what;
  }
}

TEST(PiplResources, TreesThatReadTheSameBytesAgainEndAtTheStepLimit) {
  // Thousands of ids sharing one large PiPL: each would walk it again.
  ImagePlan shared;
  Bytes big = MakePipl("Big", {{kX64, "Main"}});
  for (int i = 0; i < 500; ++i) Property(big, reinterpret_cast<const uint8_t*>("MIB8gtac"), 4, Text("\003Abc"));
  Set32(big, PIPL_COUNT_OFFSET, 502);
  shared.pipls = {{16000, {big}}};
  for (uint32_t id = 16001; id < 20000; ++id) shared.pipls.push_back({id, {MakePipl("x", {})}});
  BuiltImage image = BuildImage(shared);
  for (size_t i = 1; i < image.dataEntryAt.size(); ++i)
    for (int k = 0; k < 8; ++k) image.bytes[image.dataEntryAt[i] + k] = image.bytes[image.dataEntryAt[0] + k];
  Walked w = Walk(image.bytes, PE_MACHINE_X64);
  EXPECT_EQ(uint32_t{PIPL_WALK_LOOP}, w.report.walkEnd);
  EXPECT_GT(w.pairs.size(), 0u);
  EXPECT_LT(w.pairs.size(), 1000u) << "expected the shared PiPL read far fewer than 4000 times, got "
                                    << w.pairs.size();

  // A tree as large with bytes of its own is read whole.
  ImagePlan distinct;
  for (uint32_t id = 16000; id < 20000; ++id)
    distinct.pipls.push_back({id, {MakePipl("P" + std::to_string(id), {{kX64, "Main"}})}});
  Walked d = Walk(BuildImage(distinct).bytes, PE_MACHINE_X64);
  EXPECT_EQ(uint32_t{PIPL_WALK_WHOLE}, d.report.walkEnd);
  EXPECT_EQ(4000u, d.pairs.size());
}

TEST(PiplResources, TheSinkDecidesWhatCounts) {
  ImagePlan plan;
  plan.pipls = {{1, {MakePipl("Refused", {{kX64, "RefusedMain"}})}}, {2, {MakePipl("Kept", {{kX64, "KeptMain"}})}}};
  BuiltImage image = BuildImage(plan);
  std::vector<std::string> offered;
  PiplModuleReport report;
  uint32_t counted = ReadModulePipls(
      image.bytes.data(), image.bytes.size(), PE_MACHINE_X64,
      [](void* c, const PiplPair* p) {
        static_cast<std::vector<std::string>*>(c)->emplace_back(reinterpret_cast<const char*>(p->name), p->nameLength);
        return p->nameLength == 4 ? 1 : 0;
      },
      &offered, &report);
  EXPECT_EQ((std::vector<std::string>{"Refused", "Kept"}), offered);
  EXPECT_EQ(1u, counted);
  EXPECT_EQ(2u, report.pairs);
  // Without a sink every pair counts; without a report nothing is written.
  EXPECT_EQ(2u, ReadModulePipls(image.bytes.data(), image.bytes.size(), PE_MACHINE_X64, nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, ReadModulePipls(nullptr, 100, PE_MACHINE_X64, nullptr, nullptr, &report));
  EXPECT_EQ(uint32_t{PIPL_NOT_A_MODULE}, report.status);
}

TEST(PiplResources, NoPrefixOfAModuleIsReadPastItsEnd) {
  for (bool pe32plus : {true, false}) {
    ImagePlan plan = ThreePipls(pe32plus ? PE_MACHINE_X64 : PE_MACHINE_X86, pe32plus);
    plan.others = {{1, {MakePipl("Ghost", {{kX64, "GhostMain"}})}}};
    Bytes b = BuildImage(plan).bytes;
    // The section's zero tail is not needed.
    while (!b.empty() && b.back() == 0) b.pop_back();
    EXPECT_TRUE(EveryPrefixStaysInside(b, [](const uint8_t* p, size_t n) {
      ReadModulePipls(p, n, PE_MACHINE_X64, nullptr, nullptr, nullptr);
      ReadModulePipls(p, n, PE_MACHINE_X86, nullptr, nullptr, nullptr);
      ReadPeMachine(p, n);
    })) << (pe32plus ? "PE32+" : "PE32");
  }
}

TEST(PiplResources, RandomDamageStaysInside) {
  // A fixed-seed generator, so a failure repeats.
  uint32_t state = 12345;
  auto next = [&] { return state = state * 1664525u + 1013904223u; };
  ImagePlan plan = ThreePipls();
  plan.others = {{1, {MakePipl("Ghost", {{kX64, "GhostMain"}})}}};
  const Bytes good = BuildImage(plan).bytes;
  FencedBuffer fence(good.size());
  for (int round = 0; round < 3000; ++round) {
    Bytes b = good;
    for (int k = 1 + next() % 8; k > 0; --k) {
      const size_t at = next() % b.size();
      // Mostly small numbers and high bits, the values offsets are made of.
      const uint32_t pick = next() >> 24;
      b[at] = pick < 64 ? static_cast<uint8_t>(next() >> 24) : pick < 128 ? 0x80 : pick < 192 ? 0xFF : 0;
    }
    b.resize(b.size() - next() % 64);
    const uint8_t* at = fence.Place(b.data(), b.size());
    const size_t n = b.size();
    ASSERT_TRUE(Guarded([&] { ReadModulePipls(at, n, PE_MACHINE_X64, nullptr, nullptr, nullptr); }))
        << "round " << round << ", " << n << " bytes read outside the buffer";
  }
}
