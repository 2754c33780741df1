#include "invocation/plugin_records.h"

#include <cstring>

// Static storage: zero at start, never fails to allocate, and the addresses a
// plug-in keeps from one call stay valid for the next.
alignas(16) static PluginRecords gPluginRecords;

PluginRecords* ThePluginRecords() { return &gPluginRecords; }

FilterRecord* PluginFilterRecord() { return &gPluginRecords.filter; }

void ZeroFilterRecordBlock() { memset(gPluginRecords.filterBlock, 0, sizeof(gPluginRecords.filterBlock)); }
