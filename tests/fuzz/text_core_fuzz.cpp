// Fuzz target for the bounded text routines over 16-bit units: copies, trims,
// the last separator and "%1" replacement, with any text and capacity. Each
// result is checked against a plain reference built with std::u16string.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text_core.h"

namespace {

using Text = std::u16string;

[[noreturn]] void Fail(const char* what, long long expected, long long got) {
  fprintf(stderr, "text_core_fuzz: %s: expected %lld, got %lld\n", what, expected, got);
  abort();
}

// Texts drawn from a small alphabet, so separators, "%1" and trim characters
// meet often.
Text Draw(FuzzedDataProvider& in, size_t most) {
  static const char16_t kAlphabet[] = {u'a', u'\\', u'/', u'%', u'1', u' ', u'"', u'\t', u'\r', u'\n', u'.', 0x3000};
  Text t;
  size_t n = in.ConsumeIntegralInRange<size_t>(0, most);
  for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i)
    t.push_back(kAlphabet[in.ConsumeIntegralInRange<size_t>(0, sizeof(kAlphabet) / sizeof(kAlphabet[0]) - 1)]);
  return t;
}

// A destination with guard units after the capacity, to catch overruns.
struct Destination {
  std::vector<char16_t> units;
  size_t capacity;
  explicit Destination(size_t cap) : units(cap + 8, u'#'), capacity(cap) {}
  char16_t* data() { return units.data(); }
  void CheckGuards() const {
    for (size_t i = capacity; i < units.size(); ++i)
      if (units[i] != u'#') Fail("a unit written past the capacity", static_cast<long long>(capacity), static_cast<long long>(i));
  }
  Text Value() const {
    for (size_t i = 0; i < capacity; ++i)
      if (units[i] == 0) return Text(units.data(), i);
    Fail("a result without its terminator inside the capacity", static_cast<long long>(capacity), -1);
  }
};

void CheckCopy(const Text& src, size_t cap) {
  Destination d(cap);
  int32_t r = textcore::BoundedCopy(d.data(), cap, src.c_str());
  d.CheckGuards();
  Text expected = src.substr(0, cap - 1);
  if (d.Value() != expected) Fail("copy is the source cut to capacity - 1", static_cast<long long>(expected.size()), static_cast<long long>(d.Value().size()));
  int32_t code = src.size() > cap - 1 ? textcore::kTruncated : textcore::kOk;
  if (r != code) Fail("copy result", code, r);
}

void CheckTrim(Text text, const Text& set) {
  Text original = text;
  int r = textcore::Trim(text.data(), set.c_str());
  Text after(text.c_str());
  auto inSet = [&](char16_t c) { return set.find(c) != Text::npos; };
  size_t b = 0, e = original.size();
  while (b < e && inSet(original[b])) ++b;
  while (e > b && inSet(original[e - 1])) --e;
  Text expected = original.substr(b, e - b);
  if (after != expected) Fail("trimmed text", static_cast<long long>(expected.size()), static_cast<long long>(after.size()));
  int code = original.empty() ? 0 : (expected.empty() ? -1 : 1);
  if (r != code) Fail("trim result", code, r);
}

void CheckSeparator(const Text& path) {
  ptrdiff_t got = textcore::LastSeparator(path.c_str());
  ptrdiff_t expected = -1;
  for (size_t i = path.size(); i-- > 1;) {
    if (path[i] != u'\\' && path[i] != u'/') continue;
    if (!(i == 1 && path[0] == path[1])) expected = static_cast<ptrdiff_t>(i);
    break;
  }
  if (got != expected) Fail("last separator", expected, got);
}

void CheckReplace(const Text& src, const Text& replacement, size_t cap) {
  Text all;
  bool token = false;
  for (size_t i = 0; i < src.size(); ++i) {
    if (src[i] == u'%' && i + 1 < src.size() && src[i + 1] == u'1') {
      all += replacement;
      token = true;
      ++i;
    } else {
      all.push_back(src[i]);
    }
  }
  Destination d(cap);
  int r = textcore::ReplaceAll(d.data(), cap, src.c_str(), replacement.c_str());
  d.CheckGuards();
  int code = !token ? -1 : (all.size() < cap ? 1 : 0);
  if (r != code) Fail("replace result", code, r);
  Text expected = r == 1 ? all : src.substr(0, cap - 1);
  if (d.Value() != expected) Fail("replaced text", static_cast<long long>(expected.size()), static_cast<long long>(d.Value().size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t cap = in.ConsumeIntegralInRange<size_t>(1, 48);
  Text a = Draw(in, 64), b = Draw(in, 16), set = Draw(in, 6);
  CheckCopy(a, cap);
  CheckTrim(a, set);
  CheckSeparator(a);
  CheckReplace(a, b, cap);
  return 0;
}
