#include "services/global_memory_win32.h"

#include <windows.h>

uint64_t GlobalBlockSize(const void* block) {
  if (block == nullptr) return 0;
  return GlobalSize(const_cast<void*>(block));
}

void* AllocMovable(uint64_t size) {
  if (size > static_cast<uint64_t>(SIZE_MAX) - 64) return nullptr;
  return GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size));
}

void* LockMovable(void* handle) { return GlobalLock(handle); }

void UnlockMovable(void* handle) { GlobalUnlock(handle); }

void FreeMovable(void* handle) { GlobalFree(handle); }
