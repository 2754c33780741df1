#include "engine/sample_map.h"

#include <climits>
#include <vector>

#include "gtest/gtest.h"

struct Map {
  std::vector<int32_t> index = std::vector<int32_t>(SAMPLE_MAP_ENTRIES, -7777);
  std::vector<uint8_t> fraction = std::vector<uint8_t>(SAMPLE_MAP_ENTRIES, 99);
};

TEST(SampleMap, EqualSizeIsTheIdentityFromLeft) {
  Map m;
  FillSampleMap(5, 14, 9, false, m.index.data(), m.fraction.data());
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(5 + i, m.index[i]) << "entry " << i;
    EXPECT_EQ(0, m.fraction[i]) << "entry " << i;
  }
  EXPECT_EQ(-7777, m.index[14]) << "four entries beyond the extent, no more";
}

TEST(SampleMap, HalvingSamplesEverySecondIndexWithOrWithoutCentring) {
  for (bool centring : {false, true}) {
    Map m;
    FillSampleMap(0, 99, 49, centring, m.index.data(), m.fraction.data());
    for (int i = 0; i < 50; ++i) ASSERT_EQ(2 * i, m.index[i]) << "entry " << i << " centring " << centring;
  }
}

TEST(SampleMap, CentredDoublingSamplesQuarterPositions) {
  Map m;
  FillSampleMap(0, 1, 3, true, m.index.data(), m.fraction.data());
  const int32_t index[] = {0, 0, 0, 1};
  const uint8_t fraction[] = {0, 64, 192, 64};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(index[i], m.index[i]) << "entry " << i;
    EXPECT_EQ(fraction[i], m.fraction[i]) << "entry " << i;
  }
}

TEST(SampleMap, IndicesLimitedOnlyOnRequest) {
  Map m;
  FillSampleMap(-3, 6, 9, false, m.index.data(), m.fraction.data());
  EXPECT_EQ(0, m.index[0]) << "equal sizes never sample below 0";
  EXPECT_EQ(10, m.index[13]);
  LimitSampleIndices(m.index.data(), 14, 6);
  EXPECT_EQ(6, m.index[13]);
}

TEST(SampleMap, ExtremeSpansNeitherOverflowNorOverrun) {
  Map m;
  // A span of 2^32 source pixels and the largest extent: indices stay in
  // range and no entry past the arrays is written.
  FillSampleMap(INT32_MIN, INT32_MAX, INT32_MAX, true, m.index.data(), m.fraction.data());
  FillSampleMap(INT32_MIN, INT32_MAX, 0, false, m.index.data(), m.fraction.data());
  EXPECT_EQ(SAMPLE_MAP_ENTRIES, SampleMapCount(INT32_MAX));
  EXPECT_EQ(5, SampleMapCount(0));
  for (int i = 1; i < 5; ++i) EXPECT_GE(m.index[i], m.index[i - 1]) << "entry " << i;
}

TEST(SampleColumns, RangeFollowsSourceDestinationAndExtent) {
  int32_t first = -9, last = -9;
  SampleColumnRange(0, 99, 49, 1000, 100, &first, &last);
  EXPECT_EQ(0, first);
  EXPECT_EQ(49, last);
  SampleColumnRange(0, 99, 99, 50, 100, &first, &last);  // a narrow destination
  EXPECT_EQ(49, last);
  SampleColumnRange(0, 99, 99, 1000, 60, &first, &last);  // a narrow source
  EXPECT_EQ(59, last);
  SampleColumnRange(-10, 89, 99, 1000, 100, &first, &last);
  EXPECT_EQ(10, first) << "columns left of the source are not produced";
  EXPECT_EQ(99, last);
}

TEST(SampleColumns, ScaledNegativeLeftStartsAtFirstColumnOverTheSource) {
  int32_t first = -9, last = -9;
  // Doubling source columns -10..89: destination column 2k shows source k - 10,
  // so the first one over the source is 20.
  SampleColumnRange(-10, 89, 199, 1000, 100, &first, &last);
  EXPECT_EQ(20, first);
  // Halving -10..89: column k shows source 2k - 10, first over the source is 5.
  SampleColumnRange(-10, 89, 49, 1000, 100, &first, &last);
  EXPECT_EQ(5, first);
}

TEST(SampleColumns, NothingOverTheSourceGivesEmptyRange) {
  int32_t first = -9, last = -9;
  SampleColumnRange(-200, -101, 99, 1000, 100, &first, &last);
  EXPECT_LT(last, first);
  EXPECT_GE(first, 0);
}
