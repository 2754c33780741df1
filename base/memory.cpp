#include "base/memory.h"

#include <windows.h>

#include <atomic>

static std::atomic<int64_t> gAllocations{0};
static std::atomic<int64_t> gAllocationsOf[ALLOC_KINDS] = {};
static std::atomic<int64_t> gFailAt{0};
static std::atomic<int64_t> gOutstanding{0};

static std::atomic<AllocationObserver> gObserver{nullptr};

void SetAllocationObserver(AllocationObserver observer) { gObserver = observer; }

// Counts the allocation and answers whether the test hook makes it fail.
static bool Refused(AllocationKind kind, uint64_t size, void* caller) {
  if (size > static_cast<uint64_t>(SIZE_MAX) - 64) return true;
  if (AllocationObserver observer = gObserver; observer != nullptr)
    observer(static_cast<uint64_t>(gAllocations) + 1, kind, size, caller);
  ++gAllocationsOf[kind];
  int64_t n = ++gAllocations;
  int64_t failAt = gFailAt;
  return failAt != 0 && n == failAt;
}

static void* Allocate(UINT flags, uint64_t size, void* caller) {
  if (Refused(ALLOC_GLOBAL, size, caller)) return nullptr;
  void* block = GlobalAlloc(flags, static_cast<SIZE_T>(size));
  if (block != nullptr) ++gOutstanding;
  return block;
}

void* AllocZeroed(uint64_t size) { return Allocate(GPTR, size, __builtin_return_address(0)); }
void* AllocFixed(uint64_t size) { return Allocate(GMEM_FIXED, size, __builtin_return_address(0)); }
void* AllocMovable(uint64_t size) { return Allocate(GMEM_MOVEABLE, size, __builtin_return_address(0)); }

void FreeBlock(void* block) {
  if (block == nullptr) return;
  if (GlobalFree(block) == nullptr) --gOutstanding;
}

// A 32-bit server has 2 GiB of address space: a reservation larger than its
// free space fails here, and the caller treats that like any failed allocation.
void* ReserveRegion(uint64_t size) {
  if (size == 0 || Refused(ALLOC_RESERVE, size, __builtin_return_address(0))) return nullptr;
  void* base = VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_RESERVE, PAGE_NOACCESS);
  if (base != nullptr) ++gOutstanding;
  return base;
}

bool CommitRegion(void* base, uint64_t offset, uint64_t size) {
  if (base == nullptr || size == 0 || offset > static_cast<uint64_t>(SIZE_MAX) - size) return false;
  if (Refused(ALLOC_COMMIT, size, __builtin_return_address(0))) return false;
  return VirtualAlloc(static_cast<uint8_t*>(base) + offset, static_cast<SIZE_T>(size), MEM_COMMIT,
                      PAGE_READWRITE) != nullptr;
}

void ReleaseRegion(void* base) {
  if (base == nullptr) return;
  if (VirtualFree(base, 0, MEM_RELEASE)) --gOutstanding;
}

bool OwnZeroedBlock(OwnedBlock* block, uint64_t length) {
  ReleaseOwnedBlock(block);
  block->data = static_cast<uint8_t*>(AllocZeroed(length));
  if (block->data == nullptr) return false;
  block->length = length;
  block->kind = BLOCK_GLOBAL;
  return true;
}

static OwnedBlock gSpare[SPARE_USES];
// The spares are kept and taken on two threads (the request loop's and the
// Filter job's); each use of them is short.
static std::atomic_flag gSpareLock = ATOMIC_FLAG_INIT;

namespace {
struct SpareLock {
  SpareLock() {
    while (gSpareLock.test_and_set(std::memory_order_acquire)) SwitchToThread();
  }
  ~SpareLock() { gSpareLock.clear(std::memory_order_release); }
};
}  // namespace

void RecycleOwnedBlock(OwnedBlock* block, SpareUse use) {
  if (block->kind != (use == SPARE_VIEW ? BLOCK_MAPPING : BLOCK_REGION)) return ReleaseOwnedBlock(block);
  SpareLock lock;
  ReleaseOwnedBlock(&gSpare[use]);
  gSpare[use] = *block;
  *block = OwnedBlock{};
}

void TakeSpare(OwnedBlock* block, SpareUse use) {
  ReleaseOwnedBlock(block);
  SpareLock lock;
  *block = gSpare[use];
  gSpare[use] = OwnedBlock{};
}

bool TakeRegion(OwnedBlock* block, uint64_t length, SpareUse use) {
  ReleaseOwnedBlock(block);
  SpareLock lock;
  OwnedBlock& spare = gSpare[use];
  if (spare.data != nullptr && spare.reserved >= length && spare.reserved / 2 <= length) {
    *block = spare;
    block->length = length;
    spare = OwnedBlock{};
    return true;
  }
  ReleaseOwnedBlock(&spare);
  block->data = static_cast<uint8_t*>(ReserveRegion(length));
  // A 32-bit server's address space may be taken by the other spares: they
  // go before the request fails.
  if (block->data == nullptr) {
    bool released = false;
    for (OwnedBlock& other : gSpare) {
      released = released || other.kind != BLOCK_NONE;
      ReleaseOwnedBlock(&other);
    }
    if (released) block->data = static_cast<uint8_t*>(ReserveRegion(length));
  }
  if (block->data == nullptr) return false;
  block->kind = BLOCK_REGION;
  block->length = length;
  block->reserved = length;
  return true;
}

void ReleaseSpareRegion(SpareUse use) {
  SpareLock lock;
  ReleaseOwnedBlock(&gSpare[use]);
}

void MoveOwnedBlock(OwnedBlock* to, OwnedBlock* from) {
  if (to == from) return;
  ReleaseOwnedBlock(to);
  *to = *from;
  *from = OwnedBlock{};
}

void ReleaseOwnedBlock(OwnedBlock* block) {
  switch (block->kind) {
    case BLOCK_GLOBAL: FreeBlock(block->data); break;
    case BLOCK_REGION: ReleaseRegion(block->data); break;
    case BLOCK_MAPPING:
      UnmapSectionView(block->view);
      if (block->section != nullptr) CloseHandle(block->section);
      break;
    case BLOCK_NONE: break;
  }
  *block = OwnedBlock{};
}

void* MapSectionView(void* section, uint64_t offset, uint64_t* viewBytes, uint32_t* error) {
  *viewBytes = 0;
  void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, static_cast<DWORD>(offset >> 32),
                             static_cast<DWORD>(offset), 0);
  *error = view == nullptr ? GetLastError() : 0;
  if (view == nullptr) return nullptr;
  ++gOutstanding;
  // What the view really spans, whatever the editor said of the section.
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(view, &info, sizeof(info)) == sizeof(info) && info.BaseAddress == view) *viewBytes = info.RegionSize;
  return view;
}

void UnmapSectionView(void* view) {
  if (view != nullptr && UnmapViewOfFile(view)) --gOutstanding;
}

void SetAllocationFailureAt(uint64_t n) {
  gFailAt = n == 0 ? 0 : gAllocations + static_cast<int64_t>(n);
}

uint64_t AllocationCount() { return static_cast<uint64_t>(gAllocations); }
uint64_t AllocationCountOf(AllocationKind kind) {
  return kind < ALLOC_KINDS ? static_cast<uint64_t>(gAllocationsOf[kind]) : 0;
}
int64_t OutstandingBlocks() { return gOutstanding; }
