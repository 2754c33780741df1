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
  // The kind goes first: a handle disposed but still named somewhere is
  // then no descriptor of ours.
  Guarded([&] {
    record->kind = HANDLE_KIND_PLAIN;
    FreeBlock(record->data);
  });
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

Handle NewHandleWithBytes(const void* bytes, size_t size, uintptr_t kind) {
  if (size == 0 || size > INT32_MAX) return nullptr;
  Handle h = HostNewHandle(static_cast<int32_t>(size));
  if (h == nullptr) return nullptr;
  memcpy(RecordOf(h)->data, bytes, size);
  RecordOf(h)->kind = kind;
  return h;
}

Handle MakeTextHandle(const char* text) { return NewHandleWithBytes(text, text != nullptr ? strlen(text) : 0); }

uintptr_t HandleKind(Handle h) {
  volatile uintptr_t kind = HANDLE_KIND_PLAIN;
  if (h != nullptr) Guarded([&] { kind = RecordOf(h)->kind; });
  return kind;
}

bool CopyHandleBytes(Handle h, uint32_t limit, uint8_t** bytes, uint32_t* size) {
  *bytes = nullptr;
  *size = 0;
  if (h == nullptr) return true;
  volatile int32_t length = -1;
  char* volatile data = nullptr;
  if (!Guarded([&] {
        length = RecordOf(h)->size;
        data = RecordOf(h)->data;
      }))
    return false;
  if (length <= 0) return length == 0;
  if (static_cast<uint32_t>(length) > limit) return false;
  uint8_t* copy = static_cast<uint8_t*>(AllocZeroed(static_cast<uint64_t>(length)));
  if (copy == nullptr) return false;
  if (!Guarded([&] { memcpy(copy, data, static_cast<size_t>(length)); })) {
    FreeBlock(copy);
    return false;
  }
  *bytes = copy;
  *size = static_cast<uint32_t>(length);
  return true;
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
