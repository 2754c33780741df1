#include "engine/sample_map.h"

#include <climits>
#include <vector>

#include "gtest/gtest.h"

struct Map {
  std::vector<int32_t> index = std::vector<int32_t>(SAMPLE_MAP_ENTRIES, -7777);
  std::vector<uint8_t> fraction = std::vector<uint8_t>(SAMPLE_MAP_ENTRIES, 99);
  Map(int32_t low, int32_t high, int32_t max, bool centring) {
    FillSampleMap(low, high, max, centring, index.data(), fraction.data());
  }
};

TEST(SampleMap, WritesFourEntriesPastTheExtentAndNoMore) {
  Map same(-3, 6, 9, false);
  EXPECT_EQ(0, same.index[0]) << "equal sizes never sample below 0";
  EXPECT_EQ(10, same.index[13]);
  EXPECT_EQ(-7777, same.index[14]);
  // 2^32 source pixels, onto the largest extent and onto one pixel: nothing
  // overflows and the arrays' bounds hold.
  Map wide(INT32_MIN, INT32_MAX, INT32_MAX, true);
  EXPECT_EQ(SAMPLE_MAP_ENTRIES, SampleMapCount(INT32_MAX));
  Map one(INT32_MIN, INT32_MAX, 0, false);
  EXPECT_EQ(-7777, one.index[5]);
  for (int i = 1; i < 5; ++i) EXPECT_GE(one.index[i], one.index[i - 1]) << "entry " << i;
}

TEST(SampleColumns, ScaledNegativeLeftStartsAtTheFirstColumnOverTheSource) {
  int32_t first = -9, last = -9;
  SampleColumnRange(-10, 89, 49, 1000, 100, &first, &last);  // halved: column k shows source 2k - 10
  EXPECT_EQ(5, first);
  SampleColumnRange(-200, -101, 99, 1000, 100, &first, &last);
  EXPECT_LT(last, first) << "nothing over the source";
}
