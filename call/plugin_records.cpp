#include "call/plugin_records.h"

#include <cstring>

// Static storage: zero at start, never fails to allocate, and the addresses a
// plug-in keeps from one call stay valid for the next.
alignas(16) static PluginRecords gPluginRecords;

PluginRecords* ThePluginRecords() { return &gPluginRecords; }

FilterRecord* PluginFilterRecord() { return &gPluginRecords.filter; }

void ZeroFilterRecordBlock() { memset(gPluginRecords.filterBlock, 0, sizeof(gPluginRecords.filterBlock)); }

// advanceState's copy of the record as it was when the waiting out tile was
// handed out: a block the same size as the record's.
static union {
  FilterRecord record;
  uint8_t block[FILTER_RECORD_BLOCK_BYTES];
} gShadow;

FilterRecord* FilterRecordShadow() { return &gShadow.record; }
