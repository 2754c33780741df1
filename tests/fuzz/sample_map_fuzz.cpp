// Fuzz target for the sample maps of region copies. A map is written into
// arrays of exactly the entry count it promises for the destination's width
// (ASan catches one entry more); indices must not decrease along the map,
// must lie in the source once limited, and the destination column range must
// stay inside both the destination and the map.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/sample_map.h"

namespace {

[[noreturn]] void Fail(const char* what, long long expected, long long got) {
  fprintf(stderr, "sample_map_fuzz: %s: expected %lld, got %lld\n", what, expected, got);
  abort();
}

// Mostly spans and extents of real images, sometimes anything the types allow.
int32_t Coordinate(FuzzedDataProvider& in, bool wild) {
  return wild ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange<int32_t>(-300, 3000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint8_t mode = in.ConsumeIntegral<uint8_t>();
  const bool wild = (mode & 3) == 0, centring = (mode & 4) != 0;
  int32_t low = Coordinate(in, wild), high = Coordinate(in, wild);
  if (high < low) std::swap(low, high);
  const int32_t max = in.ConsumeIntegralInRange<int32_t>(0, (mode & 8) ? INT32_MAX : 4000);
  const int32_t sourceWidth = in.ConsumeIntegralInRange<int32_t>(0, 5000);
  const uint32_t destinationWidth = in.ConsumeIntegralInRange<uint32_t>(0, 70000);

  const int64_t count = SampleMapCount(max, destinationWidth);
  const long long produced = std::min<long long>(max, static_cast<long long>(destinationWidth) - 1);
  if (count != produced + 5) Fail("entries of a map", produced + 5, count);
  std::unique_ptr<int32_t[]> index(new int32_t[count]);
  std::unique_ptr<uint8_t[]> fraction(new uint8_t[count]);
  FillSampleMap(low, high, max, centring, index.get(), fraction.get(), count);
  for (int64_t i = 1; i < count; ++i)
    if (index[i] < index[i - 1]) Fail("indices in order along the map", index[i - 1], index[i]);

  LimitSampleIndices(index.get(), count, sourceWidth - 1);
  for (int64_t i = 0; i < count; ++i)
    if (index[i] < 0 || index[i] > std::max(sourceWidth - 1, 0)) Fail("a limited index", sourceWidth - 1, index[i]);

  int32_t first = -7, last = -7;
  SampleColumnRange(low, high, max, destinationWidth, static_cast<uint32_t>(sourceWidth), &first, &last);
  if (last >= first) {
    // The filters look up to four entries past the last column.
    const long long bound = std::min<long long>(produced, count - 5);
    if (first < 0) Fail("first destination column", 0, first);
    if (last > bound) Fail("last destination column", bound, last);
  }
  return 0;
}
