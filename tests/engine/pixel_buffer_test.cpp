#include "engine/pixel_buffer.h"

#include <windows.h>

#include <atomic>
#include <thread>

#include "engine/runtime.h"
#include "engine_helpers.h"
#include "gtest/gtest.h"
#include "server/memory.h"

TEST(PixelBufferCreate, DibSectionIsTopDownBlueGreenRed) {
  PixelBuffer b{};
  ASSERT_EQ(1, CreatePixelBuffer(&b, 7, -5, PB_STORAGE_DIB));
  EXPECT_EQ(PIXEL_BUFFER_MAGIC, b.magic);
  EXPECT_EQ(PB_DIB, b.kind);
  EXPECT_EQ(7u, b.width);
  EXPECT_EQ(5u, b.height);
  EXPECT_EQ(7u, b.pitch);
  ASSERT_NE(nullptr, b.pixels);
  PixelAt(b, 0, 0) = 0x00112233;  // red 0x11, green 0x22, blue 0x33
  PixelAt(b, 6, 4) = 0x00445566;
  void* dc = nullptr;
  ASSERT_NE(0, AcquireBufferDC(&b, &dc));
  EXPECT_EQ(b.storage.dib.bitmap, GetCurrentObject(static_cast<HDC>(dc), OBJ_BITMAP));
  EXPECT_EQ(RGB(0x11, 0x22, 0x33), GetPixel(static_cast<HDC>(dc), 0, 0)) << "first row in memory is the top row";
  EXPECT_EQ(RGB(0x44, 0x55, 0x66), GetPixel(static_cast<HDC>(dc), 6, 4));
  ReleaseBufferDC(&b);
  EXPECT_EQ(b.storage.dib.initialBitmap, GetCurrentObject(static_cast<HDC>(dc), OBJ_BITMAP));
  EXPECT_EQ(1, ReleasePixelBuffer(&b));
  EXPECT_TRUE(AllZero(b));
  EXPECT_EQ(ENG_BUFFER_EMPTY, EngineLastError());
}

TEST(PixelBufferCreate, ZeroSideFailsNegativeSideCountsByMagnitude) {
  PixelBuffer b{};
  EXPECT_EQ(0, CreatePixelBuffer(&b, 0, 10, PB_STORAGE_AUTO));
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
  EXPECT_EQ(0, CreatePixelBuffer(&b, 10, 0, PB_STORAGE_AUTO));
  ASSERT_EQ(1, CreatePixelBuffer(&b, -100, 3, PB_STORAGE_AUTO));
  EXPECT_EQ(100u, b.width);
  ReleasePixelBuffer(&b);
}

TEST(PixelBufferCreate, ReducedSizeAnswersThree) {
  PixelBuffer b{};
  ASSERT_EQ(3, CreatePixelBuffer(&b, 70000, 10, PB_STORAGE_AUTO));
  EXPECT_EQ(65536u, b.width);
  EXPECT_EQ(9u, b.height);
  ReleasePixelBuffer(&b);
}

TEST(PixelBufferCreate, AutomaticStorageSwitchesToOwnedMemoryAboveFiftyMillionPixels) {
  // Neither block is touched, so neither costs real memory.
  PixelBuffer b{};
  ASSERT_EQ(1, CreatePixelBuffer(&b, 10000, 5000, PB_STORAGE_AUTO));
  EXPECT_EQ(PB_DIB, b.kind);
  ASSERT_EQ(1, CreatePixelBuffer(&b, 7072, 7071, PB_STORAGE_AUTO)) << "a create releases the previous buffer";
  EXPECT_EQ(PB_OWNED, b.kind);
  EXPECT_EQ(7072u, b.pitch);
  EXPECT_EQ(7071u, b.storage.memory.height);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.pixels), b.handle);
  EXPECT_TRUE(ValidatePixelBuffer(&b));
  ReleasePixelBuffer(&b);
}

TEST(PixelBufferCreate, RefusedMemoryLeavesDescriptorEmpty) {
  PixelBuffer b{};
  GetEngineThreadState();  // the table is an allocation too
  SetAllocationFailureAt(1);
  EXPECT_EQ(0, CreatePixelBuffer(&b, 7072, 7071, PB_STORAGE_AUTO));
  SetAllocationFailureAt(0);
  EXPECT_EQ(ENG_OUT_OF_MEMORY, EngineLastError()) << "the release after the failure keeps its code";
  EXPECT_TRUE(AllZero(b));
}

TEST(PixelBufferAttach, WrapsCallerMemoryAndLeavesItOnRelease) {
  uint32_t memory[4 * 3];
  for (uint32_t& p : memory) p = 0xDEADBEEF;
  PixelBuffer b{};
  ASSERT_EQ(1, AttachPixelMemory(&b, 3, 3, 4, memory));
  EXPECT_EQ(PB_EXTERNAL, b.kind);
  EXPECT_EQ(memory, b.pixels);
  EXPECT_EQ(4u, b.pitch);
  ASSERT_EQ(1, BeginPixelAccess(&b, false));
  PixelAt(b, 2, 2) = 7;
  EndPixelAccess(&b, false);
  EXPECT_EQ(1, ReleasePixelBuffer(&b));
  EXPECT_EQ(7u, memory[4 * 2 + 2]);
  EXPECT_EQ(0xDEADBEEFu, memory[0]);
}

TEST(PixelBufferAttach, RefusesDescriptionsThatDoNotFit) {
  uint32_t memory[16] = {};
  PixelBuffer b{};
  EXPECT_EQ(0, AttachPixelMemory(&b, 4, 4, 4, nullptr));
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
  EXPECT_EQ(0, AttachPixelMemory(&b, 0, 4, 4, memory));
  EXPECT_EQ(0, AttachPixelMemory(&b, 4, 4, 3, memory)) << "a pitch below the width makes rows overlap";
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
  EXPECT_TRUE(AllZero(b));
}

TEST(PixelBufferRelease, EmptyDescriptorStaysZero) {
  PixelBuffer b{};
  EXPECT_EQ(1, ReleasePixelBuffer(&b));
  EXPECT_TRUE(AllZero(b));
  EXPECT_EQ(0, BeginPixelAccess(&b, false));
  EXPECT_EQ(ENG_BUFFER_EMPTY, EngineLastError());
  EXPECT_EQ(0, ReleasePixelBuffer(reinterpret_cast<PixelBuffer*>(0x10)));
  EXPECT_EQ(ENG_BAD_BUFFER, EngineLastError());
}

TEST(PixelAccess, ClosingBufferRefusesSectionsAndDc) {
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 4, 4, [](uint32_t, uint32_t) { return 0u; }));
  b.stateFlags = PB_CLOSING;  // as a release on another thread leaves it
  EXPECT_EQ(0, BeginPixelAccess(&b, false));
  EXPECT_EQ(ENG_BUFFER_BUSY, EngineLastError());
  void* dc = nullptr;
  EXPECT_EQ(0, AcquireBufferDC(&b, &dc));
  EXPECT_EQ(ENG_BUFFER_BUSY, EngineLastError());
  EXPECT_EQ(0, RefreshBufferSize(&b));
  b.stateFlags = 0;
  ReleasePixelBuffer(&b);
}

TEST(PixelAccess, UserCountOutOfRangeIsReported) {
  EventRecorder recorder;
  recorder.Install();
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 2, 2, [](uint32_t, uint32_t) { return 0u; }));
  EXPECT_EQ(1, EndPixelAccess(&b, false));
  EXPECT_EQ(0, BufferUsers(&b)) << "a count below zero is reset";
  EXPECT_TRUE(recorder.Saw(ENG_EVENT_USER_COUNT));
  recorder.events.clear();
  b.users = 255;
  EXPECT_EQ(1, BeginPixelAccess(&b, false)) << "the section still opens";
  EXPECT_TRUE(recorder.Saw(ENG_EVENT_USER_COUNT));
  b.users = 0;
  ReleasePixelBuffer(&b);
}

TEST(PixelAccess, DcAskedOfOwnedMemoryOrWithoutOutParameterIsRefused) {
  uint32_t memory[4] = {};
  PixelBuffer b{};
  ASSERT_EQ(1, AttachPixelMemory(&b, 2, 2, 2, memory));
  void* dc = reinterpret_cast<void*>(1);
  EXPECT_EQ(0, AcquireBufferDC(&b, &dc));
  EXPECT_EQ(ENG_BAD_BUFFER, EngineLastError());
  EXPECT_EQ(0, AcquireBufferDC(&b, nullptr));
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
  ReleasePixelBuffer(&b);
}

TEST(PixelBufferValidate, DestroyedMemoryDcIsRemade) {
  EventRecorder recorder;
  recorder.Install();
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 3, 3, [](uint32_t x, uint32_t y) { return PositionPixel(x, y); }));
  DeleteDC(reinterpret_cast<HDC>(b.handle));
  EXPECT_TRUE(ValidatePixelBuffer(&b));
  EXPECT_TRUE(recorder.Saw(ENG_EVENT_DC_REMADE));
  void* dc = nullptr;
  ASSERT_NE(0, AcquireBufferDC(&b, &dc));
  EXPECT_EQ(b.storage.dib.bitmap, GetCurrentObject(static_cast<HDC>(dc), OBJ_BITMAP));
  ReleaseBufferDC(&b);
  ReleasePixelBuffer(&b);
}

TEST(PixelBufferThreads, ReleaseWaitsForExclusiveHolderUntilItEnds) {
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 8, 8, [](uint32_t, uint32_t) { return 1u; }));
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE letGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> released{0};
  int releasedWhileHeld = -1;
  uint8_t kindWhileHeld = 0;
  std::thread holder([&] {
    BeginPixelAccess(&b, true);
    SetEvent(held);
    WaitForSingleObject(letGo, INFINITE);
    releasedWhileHeld = released.load();
    kindWhileHeld = b.kind;
    PixelAt(b, 7, 7) = 2;  // the storage must still be there
    EndPixelAccess(&b, true);
  });
  WaitForSingleObject(held, INFINITE);
  int releaseResult = 0;
  std::thread releaser([&] {
    releaseResult = ReleasePixelBuffer(&b);
    released = 1;
  });
  WaitUntil([&] { return (BufferStateFlags(&b) & PB_CLOSING) != 0; });
  SetEvent(letGo);
  holder.join();
  releaser.join();
  EXPECT_EQ(0, releasedWhileHeld) << "the release finished while the holder still held the buffer";
  EXPECT_EQ(PB_DIB, kindWhileHeld);
  EXPECT_EQ(1, releaseResult);
  EXPECT_TRUE(AllZero(b));
  CloseHandle(held);
  CloseHandle(letGo);
}

TEST(PixelBufferThreads, SharedSectionWaitsForExclusiveHolder) {
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 4, 4, [](uint32_t, uint32_t) { return 0u; }));
  ASSERT_EQ(1, BeginPixelAccess(&b, true));
  EXPECT_EQ(GetCurrentThreadId(), b.owner);
  std::atomic<int> opened{0};
  std::thread reader([&] {
    if (BeginPixelAccess(&b, false)) {
      opened = 1;
      EndPixelAccess(&b, false);
    }
  });
  // The reader cannot open while we hold the buffer; whatever it has done so
  // far, it has not got in.
  for (int i = 0; i < 1000; ++i) Sleep(0);
  EXPECT_EQ(0, opened.load());
  EndPixelAccess(&b, true);
  reader.join();
  EXPECT_EQ(1, opened.load());
  EXPECT_EQ(0, BufferUsers(&b));
  ReleasePixelBuffer(&b);
}
