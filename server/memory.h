// Every block the server allocates comes from the global memory functions,
// through these few calls, so that a test build can make them fail.
#pragma once
#include <cstddef>
#include <cstdint>

// Fixed, zero-filled (GPTR). Null on failure; a size that does not fit the
// address space is refused rather than wrapped.
void* AllocZeroed(uint64_t size);
// Fixed, not cleared (GMEM_FIXED).
void* AllocFixed(uint64_t size);
// Movable (GMEM_MOVEABLE): a memory handle, not an address.
void* AllocMovable(uint64_t size);
void FreeBlock(void* block);

// Test hooks: the n-th allocation from now on fails (0 disables); the number
// of allocations made, and of blocks not yet freed.
void SetAllocationFailureAt(uint64_t n);
uint64_t AllocationCount();
int64_t OutstandingBlocks();
