#include "engine/runtime.h"

#include "engine/system_calls.h"

#include <atomic>
#include <cstring>

#include "base/memory.h"
#include "base/guard.h"

static std::atomic<int32_t> gReferenceCount{0};
static std::atomic<int32_t> gRuntimeLock{0};
static std::atomic<int32_t> gStopFlag{0};
static std::atomic<EngineThreadState*> gTable{nullptr};
static HANDLE gJanitor = nullptr;

// Per-thread generator for the back-off jitter, seeded from 1.
static std::atomic<DWORD> gRandomSlot{TLS_OUT_OF_INDEXES};

static uint32_t NextRandom(uint32_t* seed) {
  *seed = *seed * 214013u + 2531011u;
  return (*seed >> 16) & 0x7FFF;
}

static uint32_t ThreadRandom() {
  if (gRandomSlot == TLS_OUT_OF_INDEXES) {
    DWORD slot = osTlsAlloc();
    DWORD none = TLS_OUT_OF_INDEXES;
    if (!gRandomSlot.compare_exchange_strong(none, slot)) osTlsFree(slot);
  }
  const DWORD slot = gRandomSlot;
  uint32_t seed = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(osTlsGetValue(slot)));
  if (seed == 0) seed = 1;
  uint32_t r = NextRandom(&seed);
  osTlsSetValue(slot, reinterpret_cast<void*>(static_cast<uintptr_t>(seed)));
  return r;
}

static bool ThreadEnded(HANDLE thread) {
  DWORD code = 0;
  return osGetExitCodeThread(thread, &code) && code != STILL_ACTIVE;
}

static bool TakeRuntimeLock() {
  int32_t free = 0;
  return gRuntimeLock.compare_exchange_strong(free, 1);
}

void AcquireRuntimeLock() {
  if (TakeRuntimeLock()) return;
  uint32_t attempts = 0, slept = 0;
  for (;;) {
    if (attempts < 512) {
      osSleep(0);
    } else {
      DWORD step = slept <= 10 ? 1 : slept <= 50 ? 2 : slept <= 100 ? 5 : 10;
      osSleep(step);
      slept += step;
    }
    ++attempts;
    if (TakeRuntimeLock()) return;
    if (slept > 1000) {
      // A holder that died must not block everyone for ever.
      gRuntimeLock = 1;
      return;
    }
  }
}

void ReleaseRuntimeLock() { gRuntimeLock = 0; }

int32_t EngineRuntimeStartup() {
  if (gReferenceCount > 0) return ++gReferenceCount;
  gRuntimeLock = 0;
  FreeBlock(gTable.exchange(nullptr));
  if (gJanitor != nullptr && ThreadEnded(gJanitor)) {
    osCloseHandle(gJanitor);
    gJanitor = nullptr;
  }
  gReferenceCount = 1;
  return 1;
}

static void StopJanitor() {
  if (gJanitor == nullptr) return;
  uint32_t slept = 0;
  for (;;) {
    gStopFlag = 1;
    if (ThreadEnded(gJanitor)) break;
    if (slept >= 15000) {
      HANDLE janitor = gJanitor;
      Guarded([&] { osTerminateThread(janitor, 19); });
      break;
    }
    DWORD step = 40 + ThreadRandom() % 121;
    osSleep(step);
    slept += step;
  }
  osCloseHandle(gJanitor);
  gJanitor = nullptr;
  gStopFlag = 0;
}

void EngineRuntimeShutdown() {
  gReferenceCount = 0;
  StopJanitor();
  gRuntimeLock = 0;
  if (gTable != nullptr) {
    for (int i = 0; i < ENGINE_THREAD_RECORDS; ++i) ReleaseEngineThreadState(i);
    FreeBlock(gTable.exchange(nullptr));
  }
}

void ReleaseEngineThreadState(int index) {
  EngineThreadState* table = gTable;
  if (table == nullptr || index < 0 || index >= ENGINE_THREAD_RECORDS) return;
  EngineThreadState* record = &table[index];
  FreeBlock(record->ownedBlockA);
  FreeBlock(record->scratchBlock);
  FreeBlock(record->ownedBlockB);
  memset(record, 0, sizeof(*record));
}

static HANDLE OpenThreadForQuery(DWORD threadId) {
  HANDLE h = osOpenThread(THREAD_ALL_ACCESS, FALSE, threadId);
  if (h == nullptr) h = osOpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
  if (h == nullptr) h = osOpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
  return h;
}

void SweepEngineThreadStates() {
  EngineThreadState* table = gTable;
  if (table == nullptr) return;
  for (int i = 0; i < ENGINE_THREAD_RECORDS; ++i) {
    if (gStopFlag != 0) return;
    uint32_t id = table[i].threadId;
    if (id == 0) continue;
    bool duplicate = false;
    for (int j = 0; j < i && !duplicate; ++j) duplicate = table[j].threadId == id;
    if (duplicate) {
      ReleaseEngineThreadState(i);
      continue;
    }
    HANDLE h = OpenThreadForQuery(id);
    if (h == nullptr) {
      ReleaseEngineThreadState(i);
      continue;
    }
    bool ended = ThreadEnded(h);
    osCloseHandle(h);
    if (ended) ReleaseEngineThreadState(i);
  }
}

bool IsThreadAlive(uint32_t threadId) {
  if (threadId == 0) return false;
  HANDLE h = OpenThreadForQuery(threadId);
  if (h == nullptr) return false;
  DWORD code = 0;
  bool alive = osGetExitCodeThread(h, &code) && code == STILL_ACTIVE;
  osCloseHandle(h);
  return alive;
}

static DWORD WINAPI JanitorMain(void* argument) {
  uint32_t seed = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument)) + osGetTickCount();
  gStopFlag = 0;
  for (;;) {
    AcquireRuntimeLock();
    SweepEngineThreadStates();
    ReleaseRuntimeLock();
    uint32_t slept = 0;
    while (slept < 4000 && gStopFlag == 0) {
      DWORD step = 30 + NextRandom(&seed) % 141;
      osSleep(step);
      slept += step;
    }
    if (gStopFlag.exchange(0) != 0) return 0;
  }
}

int EngineRecordsInUse() {
  EngineThreadState* table = gTable;
  if (table == nullptr) return 0;
  int n = 0;
  for (int i = 0; i < ENGINE_THREAD_RECORDS; ++i)
    if (table[i].threadId != 0) ++n;
  return n;
}

static void AssignRecord(EngineThreadState* record, uint32_t id) {
  record->threadId = id;
  record->clipRect[0] = 0;
  record->clipRect[1] = 0;
  // Images reach 2^31 - 1 pixels on a side.
  record->clipRect[2] = INT32_MAX;
  record->clipRect[3] = INT32_MAX;
}

EngineThreadState* GetEngineThreadState() {
  if (gReferenceCount < 1) {
    int retries = 0;
    while (EngineRuntimeStartup() < 1) {
      if (++retries > 101) return nullptr;
      osSleep(10);
    }
  }
  if (gTable == nullptr) {
    AcquireRuntimeLock();
    for (int attempt = 0; gTable == nullptr && attempt < 100; ++attempt) {
      gTable = static_cast<EngineThreadState*>(AllocZeroed(sizeof(EngineThreadState) * ENGINE_TABLE_RECORDS));
      if (gTable == nullptr && attempt >= 26) osSleep(10);
    }
    ReleaseRuntimeLock();
    if (gTable == nullptr) return nullptr;
  }
  EngineThreadState* table = gTable;
  int inUse = EngineRecordsInUse();

  AcquireRuntimeLock();
  if (gJanitor != nullptr) {
    if (inUse < 4) gStopFlag = 1;
    if (ThreadEnded(gJanitor)) {
      osCloseHandle(gJanitor);
      gJanitor = nullptr;
      gStopFlag = 0;
    }
  } else if (inUse >= 8) {
    gJanitor = osCreateThread(nullptr, 262144, JanitorMain, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  }
  ReleaseRuntimeLock();

  uint32_t id = osGetCurrentThreadId();
  if (id == 0) {
    osSleep(0);
    id = osGetCurrentThreadId();
    if (id == 0) return &table[0];
  }
  for (int i = 0; i < ENGINE_THREAD_RECORDS; ++i)
    if (table[i].threadId == id) return &table[i];

  AcquireRuntimeLock();
  EngineThreadState* record = nullptr;
  for (int pass = 0; pass < 2 && record == nullptr; ++pass) {
    for (int i = 0; i < ENGINE_THREAD_RECORDS; ++i) {
      if (table[i].threadId == 0) {
        record = &table[i];
        break;
      }
    }
    if (record == nullptr && pass == 0) SweepEngineThreadStates();
  }
  if (record == nullptr) record = &table[ENGINE_OVERFLOW_RECORD];
  AssignRecord(record, id);
  ReleaseRuntimeLock();
  return record;
}

int32_t NotifyEngineEvent(uint32_t code) {
  EngineThreadState* state = GetEngineThreadState();
  if (state == nullptr) return 0;
  EngineNotifyCallback callback = state->notify;
  if (callback == nullptr) return 1;
  if (osIsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback)))) return 0;
  uintptr_t user = state->notifyUserValue;
  return Guarded([&] { callback(code, user); }) ? 1 : 0;
}

int ProbeMemory(const void* address, uint64_t size, bool forWrite) {
  if (address == nullptr) return 1;
  SYSTEM_INFO info;
  osGetSystemInfo(&info);
  uintptr_t step = info.dwPageSize < 256 ? 256 : info.dwPageSize;
  uintptr_t first = reinterpret_cast<uintptr_t>(address);
  uint64_t span = size > 0 ? size - 1 : 0;
  if (span > UINTPTR_MAX - first) return 1;  // a range past the address space is never valid
  uintptr_t last = first + static_cast<uintptr_t>(span);
  int ok = Guarded([&] {
    uintptr_t current = first;
    for (;;) {
      volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(current);
      uint8_t value = *p;
      if (forWrite) *p = value;
      if (current >= last) break;
      uintptr_t advance = last - current < step ? last - current : step;
      current += advance < 1 ? 1 : advance;
    }
  });
  return ok ? 0 : 1;
}

EngineThreadState* EngineThreadTable() { return gTable; }
bool EngineJanitorRunning() { return gJanitor != nullptr && !ThreadEnded(gJanitor); }
int32_t EngineRuntimeReferenceCount() { return gReferenceCount; }
