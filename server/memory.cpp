#include "server/memory.h"

#include <windows.h>

static volatile LONG64 gAllocations = 0;
static volatile LONG64 gFailAt = 0;
static volatile LONG64 gOutstanding = 0;

static bool InjectedFailure() {
  LONG64 n = InterlockedIncrement64(&gAllocations);
  LONG64 failAt = gFailAt;
  return failAt != 0 && n == failAt;
}

static void* Allocate(UINT flags, uint64_t size) {
  if (size > static_cast<uint64_t>(SIZE_MAX) - 64) return nullptr;
  if (InjectedFailure()) return nullptr;
  void* block = GlobalAlloc(flags, static_cast<SIZE_T>(size));
  if (block != nullptr) InterlockedIncrement64(&gOutstanding);
  return block;
}

void* AllocZeroed(uint64_t size) { return Allocate(GPTR, size); }
void* AllocFixed(uint64_t size) { return Allocate(GMEM_FIXED, size); }
void* AllocMovable(uint64_t size) { return Allocate(GMEM_MOVEABLE, size); }

void FreeBlock(void* block) {
  if (block == nullptr) return;
  if (GlobalFree(block) == nullptr) InterlockedDecrement64(&gOutstanding);
}

void SetAllocationFailureAt(uint64_t n) {
  InterlockedExchange64(&gFailAt, n == 0 ? 0 : static_cast<LONG64>(gAllocations + n));
}

uint64_t AllocationCount() { return static_cast<uint64_t>(gAllocations); }
int64_t OutstandingBlocks() { return gOutstanding; }
