// What a plug-in handle points at: a master pointer to the data, so that
// dereferencing the handle finds the data just as the lock procedure does.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"

struct HandleRecord {
  char* data;            // the data block; a handle never exists without one
  int32_t size;          // the size the plug-in asked for
  uint32_t suiteLocked;  // the lock state the handle suite's SetLock reports
  uintptr_t kind;        // HANDLE_KIND_*; disposing clears it
};

// What a handle of ours holds. Every handle is disposed the same way; the
// kind only tells the server's own descriptor handles from any other.
constexpr uintptr_t HANDLE_KIND_PLAIN = 0;
constexpr uintptr_t HANDLE_KIND_DESCRIPTOR = 0x44455343;  // "DESC"

// A handle holding a copy of `size` bytes; null for no bytes or when the
// handle cannot be allocated.
Handle NewHandleWithBytes(const void* bytes, size_t size, uintptr_t kind = HANDLE_KIND_PLAIN);
// A handle holding `text` without its terminator; null for an empty text or
// when the handle cannot be allocated.
Handle MakeTextHandle(const char* text);

// The kind of a handle, read under the guard: HANDLE_KIND_PLAIN for null or
// for an address that cannot be read.
uintptr_t HandleKind(Handle h);
// Copies the bytes of a plug-in's handle, read under the guard, into a fresh
// block of ours (FreeBlock releases it). An empty or null handle gives no
// block and size 0. False when the handle cannot be read, holds more than
// `limit` bytes, or the copy cannot be allocated.
bool CopyHandleBytes(Handle h, uint32_t limit, uint8_t** bytes, uint32_t* size);
