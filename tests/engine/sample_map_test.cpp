#include "engine/sample_map.h"

#include <climits>
#include <vector>

#include "gtest/gtest.h"

struct Map {
  std::vector<int32_t> index;
  std::vector<uint8_t> fraction;
  int64_t count;
  // Arrays one entry longer than the map, so that a write past it shows.
  Map(int32_t low, int32_t high, int32_t max, bool centring, uint32_t destinationSide = 70000)
      : count(SampleMapCount(max, destinationSide)) {
    index.assign(count + 1, -7777);
    fraction.assign(count + 1, 99);
    FillSampleMap(low, high, max, centring, index.data(), fraction.data(), count);
  }
};

TEST(SampleMap, WritesFourEntriesPastTheExtentAndNoMore) {
  Map same(-3, 6, 9, false);
  EXPECT_EQ(-3, same.index[0]) << "equal sizes keep rows above the source there, for the copy to skip";
  EXPECT_EQ(10, same.index[13]);
  EXPECT_EQ(-7777, same.index[14]);
  // 2^32 source pixels, onto the largest extent and onto one pixel: nothing
  // overflows, and the destination's side bounds the map, not the extent.
  Map wide(INT32_MIN, INT32_MAX, INT32_MAX, true);
  EXPECT_EQ(70004, wide.count);
  EXPECT_EQ(-7777, wide.index[70004]);
  EXPECT_EQ(int64_t{INT32_MAX} + 5, SampleMapCount(INT32_MAX, UINT32_MAX)) << "counted in 64 bits";
  Map one(INT32_MIN, INT32_MAX, 0, false);
  EXPECT_EQ(-7777, one.index[5]);
  for (int i = 1; i < 5; ++i) EXPECT_GE(one.index[i], one.index[i - 1]) << "entry " << i;
}

TEST(SampleMap, BlockHoldsMapsForWideDestinations) {
  const SampleMapLayout small = PlanSampleMaps(SampleMapCount(99, 100), SampleMapCount(99, 100));
  EXPECT_EQ(SAMPLE_MAP_BLOCK_BYTES, small.bytes) << "small copies share one block size";
  const int64_t columns = SampleMapCount(69999, 70000), rows = SampleMapCount(9, 10);
  const SampleMapLayout wide = PlanSampleMaps(columns, rows);
  EXPECT_GE(wide.columnFraction, wide.columnIndex + columns * 4);
  EXPECT_GE(wide.rowIndex, wide.columnFraction + columns);
  EXPECT_GE(wide.rowFraction, wide.rowIndex + rows * 4);
  EXPECT_GE(wide.bytes, wide.rowFraction + rows);
  EXPECT_EQ(0u, wide.rowIndex % 4) << "index maps are aligned";
}

TEST(SampleColumns, ScaledNegativeLeftStartsAtTheFirstColumnOverTheSource) {
  int32_t first = -9, last = -9;
  SampleColumnRange(-10, 89, 49, 1000, 100, &first, &last);  // halved: column k shows source 2k - 10
  EXPECT_EQ(5, first);
  SampleColumnRange(-200, -101, 99, 1000, 100, &first, &last);
  EXPECT_LT(last, first) << "nothing over the source";
}
