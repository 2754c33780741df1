// Every block the server allocates comes from these few calls, so that a test
// build can count them, watch them and make any of them fail.
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

// Address space reserved for a large block whose bytes arrive over time:
// nothing is committed until CommitRegion, so an announcement costs no memory.
void* ReserveRegion(uint64_t size);
// Commits [offset, offset + size) of a reserved region; false when the memory
// cannot be had (or the range lies outside the reservation's pages).
bool CommitRegion(void* base, uint64_t offset, uint64_t size);
void ReleaseRegion(void* base);

// What kind of memory an owned block is, so that it is released the way it
// was obtained.
enum BlockKind : uint8_t {
  BLOCK_NONE = 0,
  BLOCK_GLOBAL = 1,  // AllocFixed / AllocZeroed
  BLOCK_REGION = 2,  // ReserveRegion, committed as it filled
  BLOCK_MAPPING = 3,  // a view of the editor's section, and the section's handle
};

// A block that passes from owner to owner (request payload → held image →
// fetch reply) and is released once, by ReleaseOwnedBlock, whatever its kind.
struct OwnedBlock {
  uint8_t* data;
  uint64_t length;  // bytes in use
  BlockKind kind;
  uint64_t reserved;  // a region's address space, at least `length`; a mapping's view bytes
  void* view;         // a mapping's view (data may lie past its start)
  void* section;      // a mapping's section handle, closed with the view
  uint64_t viewOffset;  // where a mapping's view begins in its section
};

// A zero-filled global block of `length` bytes; false (and an empty block) on failure.
bool OwnZeroedBlock(OwnedBlock* block, uint64_t length);
// Moves `from` into `to` (releasing what `to` held) and leaves `from` empty.
void MoveOwnedBlock(OwnedBlock* to, OwnedBlock* from);
void ReleaseOwnedBlock(OwnedBlock* block);

// A released region is kept, committed, for the next use of about its size:
// the first write to a freshly committed page costs a fault, and for a large
// image those faults cost a third as much as the pipe moving it. There is one
// spare for each use.
enum SpareUse : uint8_t {
  // The next request payload: only the request loop keeps and takes it.
  SPARE_PAYLOAD = 0,
  // The next Filter job's working copy: kept and taken by the job thread;
  // the request loop releases it only while no job runs.
  SPARE_WORKING = 1,
  // The view of the last shared image the editor fetched, for a next start
  // on the same section: a fresh view faults on every page, once to read and
  // once more to write. Only the request loop keeps and takes it.
  SPARE_VIEW = 2,
  SPARE_USES = 3,
};
// Keeps a block as the spare (releasing an older one): a region, or for
// SPARE_VIEW a mapping; releases any other kind. The block is left empty.
void RecycleOwnedBlock(OwnedBlock* block, SpareUse use = SPARE_PAYLOAD);
// Moves the spare, if any, into *block (released first).
void TakeSpare(OwnedBlock* block, SpareUse use);
// A region of at least `length` bytes, its pages committed as far as they
// were used before: the spare when it is no more than twice that size, else
// a fresh reservation (the spare is released first, so that its address
// space is free). Only a fresh reservation counts as an allocation.
bool TakeRegion(OwnedBlock* block, uint64_t length, SpareUse use = SPARE_PAYLOAD);
// Releases the spare, if there is one.
void ReleaseSpareRegion(SpareUse use = SPARE_PAYLOAD);

// Maps a view of `section` from `offset` (a multiple of the allocation
// granularity) to the section's end, for reading and writing, and answers
// the bytes it spans; null on failure, with the system's error code in
// *error. A view counts as an outstanding block until it is unmapped.
void* MapSectionView(void* section, uint64_t offset, uint64_t* viewBytes, uint32_t* error);
void UnmapSectionView(void* view);

// Test hooks: the n-th allocation of any kind from now on fails (0 disables);
// the number of allocations made (of every kind, or of one), and of blocks
// and regions not yet freed.
enum AllocationKind : uint8_t {
  ALLOC_GLOBAL = 0,   // a global-memory block
  ALLOC_RESERVE = 1,  // address space only
  ALLOC_COMMIT = 2,   // memory for part of a reserved region
  ALLOC_KINDS = 3,
};
void SetAllocationFailureAt(uint64_t n);
uint64_t AllocationCount();
uint64_t AllocationCountOf(AllocationKind kind);
int64_t OutstandingBlocks();
// Sees every allocation before it is made: its number, kind, size and caller.
using AllocationObserver = void (*)(uint64_t number, AllocationKind kind, uint64_t size, void* caller);
void SetAllocationObserver(AllocationObserver observer);
