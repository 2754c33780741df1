// What a plug-in handle points at: a master pointer to the data, so that
// dereferencing the handle finds the data just as the lock procedure does.
#pragma once
#include <cstdint>

#include "sdk/basic_types.h"

struct HandleRecord {
  char* data;            // null when the data allocation failed
  int32_t size;          // the size the plug-in asked for
  uint32_t suiteLocked;  // the lock state the handle suite's SetLock reports
  uintptr_t spare;
};

// A handle holding `text` without its terminator; null for an empty text or
// when the record cannot be allocated. When only the text block cannot be
// allocated the handle has a null data pointer and the text's length.
Handle MakeTextHandle(const char* text);
