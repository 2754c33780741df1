// What a plug-in handle points at: a master pointer to the data, so that
// dereferencing the handle finds the data just as the lock procedure does.
#pragma once
#include <cstdint>

#include "sdk/basic_types.h"

struct HandleRecord {
  char* data;            // the data block; a handle never exists without one
  int32_t size;          // the size the plug-in asked for
  uint32_t suiteLocked;  // the lock state the handle suite's SetLock reports
  uintptr_t spare;
};

// A handle holding `text` without its terminator; null for an empty text or
// when the handle cannot be allocated.
Handle MakeTextHandle(const char* text);
