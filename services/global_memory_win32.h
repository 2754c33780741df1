// The few global-memory calls the services make beyond base/memory.h: the
// size of a block, and the movable blocks that buffer IDs are.
#pragma once
#include <cstdint>

#include "base/memory.h"

// GlobalSize of a block; 0 for null or a block the memory manager rejects.
uint64_t GlobalBlockSize(const void* block);

// Movable memory (allocated with AllocMovable of base/memory.h): a handle
// that must be locked to reach the bytes.
void* LockMovable(void* handle);
void UnlockMovable(void* handle);
void FreeMovable(void* handle);
