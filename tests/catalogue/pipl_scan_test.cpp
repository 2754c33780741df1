// The byte scan on hand-made buffers, for both processors' code properties.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalogue/pipl_scan.h"
#include "gtest/gtest.h"
#include "sdk/pipl.h"
#include "server/text/guard.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Property(Bytes& b, const uint8_t* signature, uint32_t length, const Bytes& data) {
  b.insert(b.end(), signature, signature + PIPL_SIGNATURE_BYTES);
  Put32(b, 0);
  Put32(b, length);
  b.insert(b.end(), data.begin(), data.end());
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void Name(Bytes& b, const std::string& name) {
  Bytes data{static_cast<uint8_t>(name.size())};
  data.insert(data.end(), name.begin(), name.end());
  while (data.size() % 4 != 0) data.push_back(0);
  Property(b, kPiplNameSignature, static_cast<uint32_t>(data.size()), data);
}

void Code(Bytes& b, const uint8_t* signature, const std::string& entry) {
  Bytes data = Text(entry);
  do data.push_back(0);
  while (data.size() % 4 != 0);
  Property(b, signature, static_cast<uint32_t>(data.size()), data);
}

void Junk(Bytes& b, size_t n) {
  for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(0xA5 ^ i));
}

using Pair = std::pair<std::string, std::string>;

int Collect(void* context, const PiplPair* pair) {
  static_cast<std::vector<Pair>*>(context)->emplace_back(
      std::string(reinterpret_cast<const char*>(pair->name), pair->nameLength),
      std::string(reinterpret_cast<const char*>(pair->entryPoint), pair->entryPointLength));
  return 1;
}

std::vector<Pair> Scan(const Bytes& b, const uint8_t* code, uint32_t* counted = nullptr) {
  std::vector<Pair> pairs;
  uint32_t n = ScanPiplBytes(b.data(), b.size(), code, Collect, &pairs);
  if (counted != nullptr) *counted = n;
  return pairs;
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
};

// Scans every prefix of `b` fenced at its end; answers false on a fault.
bool EveryPrefixStaysInside(const Bytes& b, const uint8_t* code) {
  FencedBuffer fence(b.size());
  // The fence itself must fault, or the test proves nothing.
  const uint8_t* end = fence.Place(b.data(), 0);
  if (Guarded([&] { *reinterpret_cast<volatile const uint8_t*>(end); })) {
    ADD_FAILURE() << "expected a fault one byte past the buffer, got none";
    return false;
  }
  for (size_t n = 0; n <= b.size(); ++n) {
    const uint8_t* at = fence.Place(b.data(), n);
    if (!Guarded([&] { ScanPiplBytes(at, n, code, nullptr, nullptr); })) {
      ADD_FAILURE() << "the scan of the first " << n << " of " << b.size() << " bytes read outside the buffer";
      return false;
    }
  }
  return true;
}

}  // namespace

TEST(PiplScan, PairingRulesForBothProcessors) {
  const uint8_t* x64 = kPiplCode8664Signature;
  const uint8_t* x86 = kPiplCodeWx86Signature;
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<Pair> for8664, forWx86;
  } cases[] = {
      {"one PiPL with both codes", {}, {{"Blur", "MainX64"}}, {{"Blur", "MainX86"}}},
      {"two PiPLs, the second right after the first's code", {}, {{"One", "OneMain"}, {"Two", "TwoMain"}}, {}},
      {"a name with only the other code borrows the next PiPL's", {}, {{"Early", "LateX64"}},
       {{"Early", "EarlyMain"}, {"Late", "LateX86"}}},
      {"codes before a name and further codes after its own are passed over", {}, {{"A", "First"}}, {}},
      {"a name without a code after it ends the scan", {}, {}, {}},
  };
  Bytes& a = cases[0].bytes;
  Junk(a, 37);
  Name(a, "Blur");
  Code(a, x86, "MainX86");
  Code(a, x64, "MainX64");
  Junk(a, 20);
  Bytes& b = cases[1].bytes;
  Name(b, "One");
  Code(b, x64, "OneMain");
  Name(b, "Two");
  Code(b, x64, "TwoMain");
  Bytes& c = cases[2].bytes;
  Name(c, "Early");
  Code(c, x86, "EarlyMain");
  Junk(c, 4);
  Name(c, "Late");
  Code(c, x86, "LateX86");
  Code(c, x64, "LateX64");
  Bytes& d = cases[3].bytes;
  Code(d, x64, "Before");
  Name(d, "A");
  Code(d, x64, "First");
  Code(d, x64, "Second");
  Bytes& e = cases[4].bytes;
  Code(e, x64, "Before");
  Name(e, "Lonely");
  Junk(e, 64);
  for (const Case& k : cases) {
    EXPECT_EQ(k.for8664, Scan(k.bytes, x64)) << k.what;
    EXPECT_EQ(k.forWx86, Scan(k.bytes, x86)) << k.what;
  }
}

TEST(PiplScan, CountsPairsWithTextsThatTheSinkAccepts) {
  Bytes b;
  Name(b, "");
  Code(b, kPiplCode8664Signature, "Orphan");  // consumed by the empty name
  Name(b, "Kept");
  Code(b, kPiplCode8664Signature, "");
  Name(b, "Refused");
  Code(b, kPiplCode8664Signature, "RefusedMain");
  Name(b, "Last");
  Code(b, kPiplCode8664Signature, "LastMain");
  std::vector<std::string> offered;
  uint32_t counted = ScanPiplBytes(
      b.data(), b.size(), kPiplCode8664Signature,
      [](void* c, const PiplPair* p) {
        static_cast<std::vector<std::string>*>(c)->emplace_back(reinterpret_cast<const char*>(p->name), p->nameLength);
        return p->nameLength == 4 ? 1 : 0;
      },
      &offered);
  EXPECT_EQ((std::vector<std::string>{"Refused", "Last"}), offered);
  EXPECT_EQ(1u, counted);
  EXPECT_EQ(0u, ScanPiplBytes(nullptr, 100, kPiplCode8664Signature, nullptr, nullptr));
}

TEST(PiplScan, NameTextStopsAtItsLengthByteThePropertyANulOrTheLimit) {
  struct Case {
    uint8_t lengthByte;
    uint32_t propertyLength;
    std::string text;
    std::string expected;
  } cases[] = {
      {5, 12, "Sharpen More", "Sharp"},   // the length byte is shorter
      {10, 3, "Sharpen More", "Sha"},     // the property is shorter
      {10, 12, std::string("Shar\0pen More", 13), "Shar"},  // a NUL comes first
      {255, 400, std::string(300, 'n'), std::string(255, 'n')},
  };
  for (const Case& c : cases) {
    Bytes b;
    Bytes data{c.lengthByte};
    data.insert(data.end(), c.text.begin(), c.text.end());
    Property(b, kPiplNameSignature, c.propertyLength, data);
    // The code property comes after the name property's stated end.
    if (b.size() < 16 + c.propertyLength) Junk(b, 16 + c.propertyLength - b.size());
    Code(b, kPiplCode8664Signature, "Main");
    std::vector<Pair> pairs = Scan(b, kPiplCode8664Signature);
    ASSERT_EQ(1u, pairs.size()) << "length byte " << int(c.lengthByte) << ", property " << c.propertyLength;
    EXPECT_EQ(c.expected, pairs[0].first) << "length byte " << int(c.lengthByte) << ", property " << c.propertyLength;
  }
}

TEST(PiplScan, NoPrefixOfAModuleIsReadPastItsEnd) {
  Bytes b;
  Junk(b, 5);
  Name(b, "Blur");
  Code(b, kPiplCodeWx86Signature, "X86");
  Code(b, kPiplCode8664Signature, "PluginMain");
  Name(b, "Next");
  Code(b, kPiplCode8664Signature, "NextMain");
  EXPECT_TRUE(EveryPrefixStaysInside(b, kPiplCode8664Signature));
  EXPECT_TRUE(EveryPrefixStaysInside(b, kPiplCodeWx86Signature));
}

TEST(PiplScan, HugeLengthsEndTheScanWithoutWrapping) {
  for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, 0x7FFFFFFFu}) {
    // A huge name length: the code search starts past the end.
    Bytes a;
    Property(a, kPiplNameSignature, huge, Bytes{4, 'B', 'l', 'u', 'r', 0, 0, 0});
    Code(a, kPiplCode8664Signature, "Main");
    EXPECT_TRUE(Scan(a, kPiplCode8664Signature).empty()) << "name length " << huge;
    EXPECT_TRUE(EveryPrefixStaysInside(a, kPiplCode8664Signature));
    // A huge code length: the pair counts, then the scan ends.
    Bytes c;
    Name(c, "Blur");
    Property(c, kPiplCode8664Signature, huge, Text(std::string("Main\0", 5)));
    Name(c, "Never");
    Code(c, kPiplCode8664Signature, "NeverMain");
    EXPECT_EQ((std::vector<Pair>{{"Blur", "Main"}}), Scan(c, kPiplCode8664Signature)) << "code length " << huge;
    EXPECT_TRUE(EveryPrefixStaysInside(c, kPiplCode8664Signature));
  }
  // An entry-point text running into the end stops there.
  Bytes t;
  Name(t, "Cut");
  Property(t, kPiplCode8664Signature, 100, Text("Main"));
  EXPECT_EQ((std::vector<Pair>{{"Cut", "Main"}}), Scan(t, kPiplCode8664Signature));
}

TEST(PiplScan, RandomBytesAroundSignaturesStayInside) {
  // A fixed-seed generator, so a failure repeats.
  uint32_t state = 12345;
  auto next = [&] { return state = state * 1664525u + 1013904223u; };
  FencedBuffer fence(4096);
  for (int round = 0; round < 3000; ++round) {
    Bytes b(next() % 300);
    for (uint8_t& x : b) x = static_cast<uint8_t>(next() >> 24);
    for (int k = next() % 5; k > 0 && b.size() >= 8; --k) {
      const uint8_t* sig = (next() & 1) ? kPiplNameSignature : kPiplCode8664Signature;
      memcpy(&b[next() % (b.size() - 7)], sig, 8);
    }
    const uint8_t* at = fence.Place(b.data(), b.size());
    const size_t n = b.size();
    ASSERT_TRUE(Guarded([&] { ScanPiplBytes(at, n, kPiplCode8664Signature, nullptr, nullptr); }))
        << "round " << round << ", " << n << " bytes read outside the buffer";
  }
}

TEST(PiplScan, SignaturesAreFoundAtEveryOffsetAndAfterNearMisses) {
  for (size_t offset = 0; offset < 24; ++offset) {
    Bytes b;
    Junk(b, offset);
    // Near misses first: a cut-off name signature and the vendor code alone.
    const std::string decoys = "MIB8ema MIB8MIB84668";
    b.insert(b.end(), decoys.begin(), decoys.end());
    Name(b, "N");
    Junk(b, offset % 7);
    Code(b, kPiplCode8664Signature, "C");
    EXPECT_EQ((std::vector<Pair>{{"N", "C"}}), Scan(b, kPiplCode8664Signature)) << "offset " << offset;
  }
}
