// Per-thread engine state: every thread that enters the image engine finds
// its own record by thread id in a fixed table of 128. A janitor thread frees
// the records of threads that have ended.
#pragma once
#include <cstdint>

struct PixelBuffer;

using EngineNotifyCallback = void (*)(uint32_t eventCode, uintptr_t userValue);

struct EngineThreadState {
  uint32_t threadId;  // 0: free
  uint32_t lastError;
  int32_t clipRect[4];  // left, top, right, bottom
  int32_t smoothing[2];
  PixelBuffer* currentBuffer;
  void* ownedBlockA;
  void* scratchBlock;  // the sample maps
  int32_t* columnIndex;
  uint8_t* columnFraction;
  int32_t* rowIndex;
  uint8_t* rowFraction;
  void* ownedBlockB;
  EngineNotifyCallback notify;
  uintptr_t notifyUserValue;
  uint64_t scratchBytes;  // size of scratchBlock
  uint32_t systemError;   // the system's code behind lastError, 0 when none
};

constexpr int ENGINE_THREAD_RECORDS = 128;
constexpr int ENGINE_TABLE_RECORDS = 130;  // the block has room for two more
constexpr int ENGINE_OVERFLOW_RECORD = 127;

int32_t EngineRuntimeStartup();
void EngineRuntimeShutdown();
EngineThreadState* GetEngineThreadState();
void ReleaseEngineThreadState(int index);
void SweepEngineThreadStates();  // RuntimeLock held
int32_t NotifyEngineEvent(uint32_t code);
bool IsThreadAlive(uint32_t threadId);
// 0 when the whole range can be read (and written, with forWrite); 1 when the
// address is null or a fault was raised.
int ProbeMemory(const void* address, uint64_t size, bool forWrite);

void AcquireRuntimeLock();
void ReleaseRuntimeLock();

// For tests: the table, whether a janitor runs, and the records in use.
EngineThreadState* EngineThreadTable();
bool EngineJanitorRunning();
int EngineRecordsInUse();
int32_t EngineRuntimeReferenceCount();
