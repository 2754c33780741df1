#include "services/handles.h"

#include <cstring>

#include "base/memory.h"
#include "base/guard.h"
#include "services/global_memory_win32.h"
#include "services/host_services.h"

static HandleRecord* RecordOf(Handle h) { return reinterpret_cast<HandleRecord*>(h); }

// A handle comes whole or not at all: plug-ins check the handle, not its
// data pointer, and would write through a null one.
Handle HostNewHandle(int32_t size) {
  if (size < 1) return nullptr;
  HandleRecord* record = static_cast<HandleRecord*>(AllocZeroed(sizeof(HandleRecord)));
  if (record == nullptr) return nullptr;
  record->data = static_cast<char*>(AllocZeroed(static_cast<uint64_t>(size)));
  if (record->data == nullptr) {
    FreeBlock(record);
    return nullptr;
  }
  record->size = size;
  return reinterpret_cast<Handle>(record);
}

// Each free is guarded on its own: a handle whose data pointer the plug-in
// has trampled still gives its record back.
void HostDisposeHandle(Handle h) {
  if (h == nullptr) return;
  HandleRecord* record = RecordOf(h);
  Guarded([&] { FreeBlock(record->data); });
  Guarded([&] { FreeBlock(record); });
}

int32_t HostGetHandleSize(Handle h) {
  if (h == nullptr) return 0;
  HandleRecord* record = RecordOf(h);
  if (record->size != 0) return record->size;
  uint64_t blockSize = GlobalBlockSize(record->data);
  return blockSize > INT32_MAX ? INT32_MAX : static_cast<int32_t>(blockSize);
}

// Allocate, copy, free: the old data stays whole until the copy is done, so a
// failed resize loses nothing.
OSErr HostSetHandleSize(Handle h, int32_t newSize) {
  if (h == nullptr) return nilHandleErr;
  if (newSize < 0) return memFullErr;
  HandleRecord* record = RecordOf(h);
  char* fresh = static_cast<char*>(AllocZeroed(static_cast<uint64_t>(newSize)));
  if (fresh == nullptr) return memFullErr;
  int32_t keep = record->size < newSize ? record->size : newSize;
  if (keep > 0) memcpy(fresh, record->data, static_cast<size_t>(keep));
  FreeBlock(record->data);
  record->data = fresh;
  record->size = newSize;
  return noErr;
}

Ptr HostLockHandle(Handle h, Boolean moveHigh) {
  if (h == nullptr) return nullptr;
  return RecordOf(h)->data;
}

void HostUnlockHandle(Handle h) {}

void HostRecoverSpace(int32_t size) {}

// Locking moves nothing here; the suite's flag only remembers what the
// plug-in last asked for, so the previous state it reads back is its own.
void HandleSuiteSetLock(Handle h, Boolean lock, Ptr* address, Boolean* oldLock) {
  HandleRecord* record = RecordOf(h);
  if (oldLock != nullptr) *oldLock = record != nullptr && record->suiteLocked != 0 ? 1 : 0;
  if (record != nullptr) record->suiteLocked = lock != 0 ? 1 : 0;
  if (address != nullptr) *address = record != nullptr ? record->data : nullptr;
}

Handle MakeTextHandle(const char* text) {
  size_t length = text != nullptr ? strlen(text) : 0;
  if (length == 0 || length > INT32_MAX) return nullptr;
  Handle h = HostNewHandle(static_cast<int32_t>(length));
  if (h != nullptr) memcpy(RecordOf(h)->data, text, length);
  return h;
}

void FillHandleProcs(HandleProcs* procs) {
  *procs = HandleProcs{};
  procs->handleProcsVersion = 1;
  procs->numHandleProcs = 8;
  procs->newProc = HostNewHandle;
  procs->disposeProc = HostDisposeHandle;
  procs->getSizeProc = HostGetHandleSize;
  procs->setSizeProc = HostSetHandleSize;
  procs->lockProc = HostLockHandle;
  procs->unlockProc = HostUnlockHandle;
  procs->recoverSpaceProc = HostRecoverSpace;
  procs->disposeRegularHandleProc = HostDisposeHandle;
}
