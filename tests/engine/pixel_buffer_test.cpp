#include "engine/pixel_buffer.h"

#include <windows.h>

#include <atomic>
#include <thread>

#include "engine_helpers.h"
#include "gtest/gtest.h"
#include "base/memory.h"

TEST(PixelBuffer, DibSectionIsTopDownBlueGreenRedWithItsOwnDc) {
  PixelBuffer b{};
  ASSERT_EQ(1, CreatePixelBuffer(&b, 7, -5, PB_STORAGE_DIB));
  EXPECT_EQ(PB_DIB, b.kind);
  EXPECT_EQ(5u, b.height);
  PixelAt(b, 6, 4) = 0x00112233;  // red 0x11, green 0x22, blue 0x33
  void* dc = nullptr;
  ASSERT_NE(0, AcquireBufferDC(&b, &dc));
  EXPECT_EQ(RGB(0x11, 0x22, 0x33), GetPixel(static_cast<HDC>(dc), 6, 4)) << "the last row in memory is the bottom";
  ReleaseBufferDC(&b);
  EXPECT_EQ(b.storage.dib.initialBitmap, GetCurrentObject(static_cast<HDC>(dc), OBJ_BITMAP));
  EXPECT_EQ(1, ReleasePixelBuffer(&b));
  EXPECT_TRUE(AllZero(b));
  EXPECT_EQ(ENG_BUFFER_EMPTY, EngineLastError());
}

TEST(PixelBuffer, SizesAndAutomaticStorage) {
  PixelBuffer b{};
  ASSERT_EQ(3, CreatePixelBuffer(&b, 70000, 10, PB_STORAGE_AUTO));
  EXPECT_EQ(65536u, b.width);
  EXPECT_EQ(9u, b.height);
  // Neither large block is ever touched, so neither costs real memory.
  ASSERT_EQ(1, CreatePixelBuffer(&b, 10000, 5000, PB_STORAGE_AUTO)) << "a create releases the buffer first";
  EXPECT_EQ(PB_DIB, b.kind);
  ASSERT_EQ(1, CreatePixelBuffer(&b, 7072, 7071, PB_STORAGE_AUTO));
  EXPECT_EQ(PB_OWNED, b.kind);
  EXPECT_EQ(7072u, b.pitch);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.pixels), b.handle);
  // Exact storage is never reduced, and a size past 64 bits is refused, not
  // wrapped into a small block.
  ASSERT_EQ(1, CreatePixelBuffer(&b, 70000, -10, PB_STORAGE_EXACT));
  EXPECT_EQ(70000u, b.width);
  EXPECT_EQ(10u, b.height);
  EXPECT_EQ(PB_OWNED, b.kind);
  EXPECT_EQ(0, CreatePixelBuffer(&b, INT32_MIN, INT32_MIN, PB_STORAGE_EXACT));
  EXPECT_EQ(ENG_OUT_OF_MEMORY, EngineLastError());
  ReleasePixelBuffer(&b);
  GetEngineThreadState();  // the table is an allocation too
  SetAllocationFailureAt(1);
  EXPECT_EQ(0, CreatePixelBuffer(&b, 7072, 7071, PB_STORAGE_AUTO));
  SetAllocationFailureAt(0);
  EXPECT_EQ(ENG_OUT_OF_MEMORY, EngineLastError()) << "the release after the failure keeps its code";
  EXPECT_TRUE(AllZero(b));
}

TEST(PixelBuffer, AttachedMemoryStaysTheCallers) {
  uint32_t memory[4 * 3];
  for (uint32_t& p : memory) p = kUntouched;
  PixelBuffer b{};
  EXPECT_EQ(0, AttachPixelMemory(&b, 3, 3, 4, nullptr));
  EXPECT_EQ(0, AttachPixelMemory(&b, 3, 3, 2, memory)) << "a pitch below the width makes rows overlap";
  EXPECT_EQ(ENG_BAD_ARGUMENT, EngineLastError());
  ASSERT_EQ(1, AttachPixelMemory(&b, 3, 3, 4, memory));
  ASSERT_EQ(1, BeginPixelAccess(&b, false));
  PixelAt(b, 2, 2) = 7;
  EndPixelAccess(&b, false);
  EXPECT_EQ(1, ReleasePixelBuffer(&b));
  EXPECT_EQ(7u, memory[4 * 2 + 2]) << "the memory outlives the buffer";
  EXPECT_EQ(1, ReleasePixelBuffer(&b)) << "releasing an empty descriptor";
  EXPECT_TRUE(AllZero(b));
  EXPECT_EQ(0, BeginPixelAccess(&b, false));
  EXPECT_EQ(ENG_BUFFER_EMPTY, EngineLastError());
}

TEST(PixelBuffer, SectionRulesAndTheirEvents) {
  EventRecorder recorder;
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 2, 2, Untouched));
  EXPECT_EQ(1, EndPixelAccess(&b, false));
  EXPECT_EQ(0, BufferUsers(&b)) << "a count below zero is reset";
  EXPECT_TRUE(recorder.Saw(ENG_EVENT_USER_COUNT));
  recorder.events.clear();
  b.users = 255;
  EXPECT_EQ(1, BeginPixelAccess(&b, false)) << "the 256th section still opens";
  EXPECT_TRUE(recorder.Saw(ENG_EVENT_USER_COUNT));
  b.users = 0;
  b.stateFlags = PB_CLOSING;  // as a release on another thread leaves it
  EXPECT_EQ(0, BeginPixelAccess(&b, false));
  EXPECT_EQ(ENG_BUFFER_BUSY, EngineLastError());
  b.stateFlags = 0;
  DeleteDC(reinterpret_cast<HDC>(b.handle));  // the memory DC lost behind our back
  EXPECT_TRUE(ValidatePixelBuffer(&b));
  EXPECT_TRUE(recorder.Saw(ENG_EVENT_DC_REMADE));
  void* dc = nullptr;
  ASSERT_NE(0, AcquireBufferDC(&b, &dc));
  EXPECT_EQ(b.storage.dib.bitmap, GetCurrentObject(static_cast<HDC>(dc), OBJ_BITMAP));
  ReleaseBufferDC(&b);
  ReleasePixelBuffer(&b);
}

TEST(PixelBuffer, ReleaseWaitsForExclusiveHolderUntilItEnds) {
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 8, 8, Untouched));
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr), letGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> released{0};
  int releasedWhileHeld = -1;
  std::thread holder([&] {
    BeginPixelAccess(&b, true);
    SetEvent(held);
    WaitForSingleObject(letGo, INFINITE);
    releasedWhileHeld = released.load();
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
  EXPECT_EQ(0, releasedWhileHeld) << "the release ended while another thread held the buffer";
  EXPECT_EQ(1, releaseResult);
  EXPECT_TRUE(AllZero(b));
  CloseHandle(held);
  CloseHandle(letGo);
}

TEST(PixelBuffer, ReleaseBegunWhileASectionCountsItselfInTurnsTheSectionAway) {
  // The user-count event is sent the moment a section counts itself in: a
  // release begun right there must make the section back out instead of
  // opening over storage that is about to be freed.
  struct Race {
    PixelBuffer* buffer;
    std::thread releaser;
    int released = -1;
  };
  PixelBuffer b{};
  ASSERT_TRUE(MakeBuffer(&b, 4, 4, Untouched));
  Race race{&b};
  GetEngineThreadState()->notify = [](uint32_t code, uintptr_t user) {
    Race* r = reinterpret_cast<Race*>(user);
    if (code != ENG_EVENT_USER_COUNT || r->releaser.joinable()) return;
    r->releaser = std::thread([r] { r->released = ReleasePixelBuffer(r->buffer); });
    WaitUntil([&] { return (BufferStateFlags(r->buffer) & PB_CLOSING) != 0; });
  };
  GetEngineThreadState()->notifyUserValue = reinterpret_cast<uintptr_t>(&race);
  b.users = 255;  // the next count passes 255 and is reported
  int opened = BeginPixelAccess(&b, false);
  uint32_t error = EngineLastError();
  GetEngineThreadState()->notify = nullptr;
  if (opened) EndPixelAccess(&b, false);
  b.users = 0;  // the 255 were never real sections
  ASSERT_TRUE(race.releaser.joinable());
  race.releaser.join();
  EXPECT_EQ(0, opened) << "expected the section refused, got it opened on a buffer being released";
  EXPECT_EQ(ENG_BUFFER_BUSY, error);
  EXPECT_EQ(1, race.released);
  EXPECT_TRUE(AllZero(b));
}
