#include <cstring>

#include "call/plugin_records.h"
#include "gtest/gtest.h"

// Plug-ins built against newer headers read past the record's end: the whole
// block reads as zero after each set-up, and nothing beside it is touched.
TEST(PluginRecords, FilterRecordBlockReadsZeroPastTheRecord) {
  EXPECT_GE(FILTER_RECORD_BLOCK_BYTES, FILTER_RECORD_NEWEST_SIZE);
  PluginRecords* records = ThePluginRecords();
  EXPECT_EQ(static_cast<void*>(records->filterBlock), static_cast<void*>(PluginFilterRecord()));
  memset(records->filterBlock, 0xCC, sizeof(records->filterBlock));
  memset(&records->platformData, 0x5A, sizeof(records->platformData));
  ZeroFilterRecordBlock();
  for (size_t i = 0; i < FILTER_RECORD_BLOCK_BYTES; ++i) ASSERT_EQ(0, records->filterBlock[i]) << "byte " << i;
  const uint8_t* beside = reinterpret_cast<const uint8_t*>(&records->platformData);
  for (size_t i = 0; i < sizeof(records->platformData); ++i) EXPECT_EQ(0x5A, beside[i]) << "platform data byte " << i;
  memset(&records->platformData, 0, sizeof(records->platformData));
}
