#include <cstdint>

#include "base/memory.h"
#include "services/global_memory_win32.h"
#include "services/host_services.h"

// Both the procs and the suite report this much space, whatever is free: the
// same value the filter record offers as maxSpace and bufferSpace.
constexpr int32_t kReportedBufferSpace = 0x40000000;

// Buffer IDs are movable blocks; the platform keeps their lock counts.
OSErr HostAllocateBuffer(int32_t size, BufferID* bufferID) {
  if (bufferID == nullptr || size < 1) return paramErr;
  void* handle = AllocMovable(static_cast<uint64_t>(size));
  if (handle == nullptr) return memFullErr;
  *bufferID = static_cast<BufferID>(handle);
  return noErr;
}

Ptr HostLockBuffer(BufferID bufferID, Boolean moveHigh) { return static_cast<Ptr>(LockMovable(bufferID)); }

void HostUnlockBuffer(BufferID bufferID) { UnlockMovable(bufferID); }

void HostFreeBuffer(BufferID bufferID) { FreeMovable(bufferID); }

int32_t HostBufferSpace() { return kReportedBufferSpace; }

void FillBufferProcs(BufferProcs* procs) {
  *procs = BufferProcs{};
  procs->bufferProcsVersion = 2;
  procs->numBufferProcs = 5;
  procs->allocateProc = HostAllocateBuffer;
  procs->lockProc = HostLockBuffer;
  procs->unlockProc = HostUnlockBuffer;
  procs->freeProc = HostFreeBuffer;
  procs->spaceProc = HostBufferSpace;
}

// The suite degrades rather than fails: when the preferred size cannot be had
// the plug-in gets its minimum and learns the size through the in/out value.
Ptr BufferSuiteNew(uint32_t* requestedSize, uint32_t minimumSize) {
  uint32_t first = requestedSize != nullptr && minimumSize <= *requestedSize ? *requestedSize : minimumSize;
  void* block = AllocZeroed(first);
  if (block == nullptr) block = AllocZeroed(minimumSize);
  if (block == nullptr) return nullptr;
  if (requestedSize != nullptr) {
    uint64_t actual = GlobalBlockSize(block);
    *requestedSize = actual > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(actual);
  }
  return static_cast<Ptr>(block);
}

void BufferSuiteDispose(Ptr* buffer) {
  if (buffer == nullptr || *buffer == nullptr) return;
  FreeBlock(*buffer);
  *buffer = nullptr;
}

uint32_t BufferSuiteGetSize(Ptr buffer) {
  uint64_t size = GlobalBlockSize(buffer);
  return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

uint32_t BufferSuiteGetSpace() { return static_cast<uint32_t>(kReportedBufferSpace); }
