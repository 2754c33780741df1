#include "services/global_memory_win32.h"

#include <windows.h>

#include "base/memory.h"

uint64_t GlobalBlockSize(const void* block) {
  if (block == nullptr) return 0;
  return GlobalSize(const_cast<void*>(block));
}


void* LockMovable(void* handle) { return GlobalLock(handle); }

void UnlockMovable(void* handle) { GlobalUnlock(handle); }

void FreeMovable(void* handle) { FreeBlock(handle); }
