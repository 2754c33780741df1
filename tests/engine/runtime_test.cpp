#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/runtime.h"
#include "gtest/gtest.h"

TEST(EngineThreadState, SameRecordOnOneThreadOtherRecordOnAnother) {
  EngineThreadState* a = GetEngineThreadState();
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, GetEngineThreadState());
  EXPECT_EQ(GetCurrentThreadId(), a->threadId);
  EngineThreadState* other = nullptr;
  std::thread([&] { other = GetEngineThreadState(); }).join();
  EXPECT_NE(nullptr, other);
  EXPECT_NE(a, other);
}

TEST(EngineThreadState, NewRecordGetsTheDefaultClipRectangle) {
  EngineThreadState* s = nullptr;
  int32_t clip[4] = {-1, -1, -1, -1};
  std::thread([&] {
    s = GetEngineThreadState();
    memcpy(clip, s->clipRect, sizeof(clip));
  }).join();
  EXPECT_EQ(0, clip[0]);
  EXPECT_EQ(0, clip[1]);
  EXPECT_EQ(INT32_MAX, clip[2]) << "no side limit below 2^31 - 1";
  EXPECT_EQ(INT32_MAX, clip[3]);
}

TEST(EngineThreadState, SweepFreesRecordsOfEndedThreads) {
  int index = -1;
  std::thread([&] { index = static_cast<int>(GetEngineThreadState() - EngineThreadTable()); }).join();
  ASSERT_GE(index, 0);
  EngineThreadTable()[index].scratchBlock = GlobalAlloc(GPTR, 64);  // freed with the record
  AcquireRuntimeLock();
  SweepEngineThreadStates();
  ReleaseRuntimeLock();
  EXPECT_EQ(0u, EngineThreadTable()[index].threadId);
  EXPECT_EQ(nullptr, EngineThreadTable()[index].scratchBlock);
}

TEST(EngineJanitor, StartsWithEightRecordsAndIsToldToStopBelowFour) {
  // Eight threads hold records at once, each parked on an event we control.
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 9; ++i)
    threads.emplace_back([&] {
      GetEngineThreadState();
      ++ready;
      WaitForSingleObject(release, INFINITE);
    });
  while (ready < 9) Sleep(0);
  GetEngineThreadState();  // a lookup with eight or more in use starts it
  EXPECT_TRUE(EngineJanitorRunning());
  SetEvent(release);
  for (auto& t : threads) t.join();
  CloseHandle(release);
  AcquireRuntimeLock();
  SweepEngineThreadStates();
  ReleaseRuntimeLock();
  EXPECT_LT(EngineRecordsInUse(), 4);
  // The next lookups tell the janitor to stop and then forget it.
  for (int i = 0; i < 2000 && EngineJanitorRunning(); ++i) {
    GetEngineThreadState();
    Sleep(5);
  }
  EXPECT_FALSE(EngineJanitorRunning());
}

TEST(ProbeMemory, Cases) {
  EXPECT_EQ(1, ProbeMemory(nullptr, 10, false));
  uint8_t block[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(0, ProbeMemory(block, sizeof(block), true));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(i + 1, block[i]);
  void* readOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READONLY);
  EXPECT_EQ(0, ProbeMemory(readOnly, 10, false));
  EXPECT_EQ(1, ProbeMemory(readOnly, 10, true));
  VirtualFree(readOnly, 0, MEM_RELEASE);
  // A range that runs into a reserved page fails at that page.
  uint8_t* two = static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS));
  VirtualAlloc(two, 4096, MEM_COMMIT, PAGE_READWRITE);
  EXPECT_EQ(0, ProbeMemory(two, 4096, true));
  EXPECT_EQ(1, ProbeMemory(two, 4097, false));
  EXPECT_EQ(0, ProbeMemory(two, 0, false));
  VirtualFree(two, 0, MEM_RELEASE);
  // A size that would run past the end of the address space is refused.
  EXPECT_EQ(1, ProbeMemory(block, UINT64_MAX, false));
}

TEST(NotifyEngineEvent, NoCallbackAnswersOneAFaultingCallbackZero) {
  EngineThreadState* s = GetEngineThreadState();
  EXPECT_EQ(1, NotifyEngineEvent(0x40000002));
  static uint32_t seen = 0;
  s->notify = [](uint32_t code, uintptr_t) { seen = code; };
  EXPECT_EQ(1, NotifyEngineEvent(0x40000003));
  EXPECT_EQ(0x40000003u, seen);
  s->notify = [](uint32_t, uintptr_t) { *static_cast<volatile int*>(nullptr) = 1; };
  EXPECT_EQ(0, NotifyEngineEvent(0x40000004));
  s->notify = nullptr;
}

TEST(IsThreadAlive, LiveAndEndedThreads) {
  EXPECT_TRUE(IsThreadAlive(GetCurrentThreadId()));
  DWORD id = 0;
  std::thread t([&] { id = GetCurrentThreadId(); });
  t.join();
  EXPECT_FALSE(IsThreadAlive(id));
  EXPECT_FALSE(IsThreadAlive(0));
}

TEST(EngineRuntime, ShutdownReleasesEverythingAndLookupRestartsIt) {
  ASSERT_NE(nullptr, GetEngineThreadState());
  EngineRuntimeShutdown();
  EXPECT_EQ(nullptr, EngineThreadTable());
  EXPECT_FALSE(EngineJanitorRunning());
  EXPECT_EQ(0, EngineRuntimeReferenceCount());
  EXPECT_NE(nullptr, GetEngineThreadState());
  EXPECT_EQ(1, EngineRuntimeReferenceCount());
  EXPECT_EQ(2, EngineRuntimeStartup());
}
