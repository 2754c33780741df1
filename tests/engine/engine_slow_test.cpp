// Engine tests that wait out the engine's own time limits (about two seconds
// of a release's first wait), kept apart from the quick ones.
#include <windows.h>

#include "engine/pixel_buffer.h"
#include "engine/resample.h"
#include "engine/runtime.h"
#include "engine_helpers.h"
#include "gtest/gtest.h"

static const uint32_t kUntouchedPixel = 0x5A5A5A5A;

// The source's release lets readers finish for a while before it marks the
// buffer draining; a copy must stop at that mark. The copy is parked inside
// its source section by the engine event that a user count above 255 sends.
struct ParkedRelease {
  PixelBuffer* source;
  HANDLE releaser;
  int releaseResult;
};

static DWORD WINAPI ReleaseSource(void* context) {
  ParkedRelease* parked = static_cast<ParkedRelease*>(context);
  parked->releaseResult = ReleasePixelBuffer(parked->source);
  return 0;
}

static void ParkUntilDraining(uint32_t code, uintptr_t user) {
  ParkedRelease* parked = reinterpret_cast<ParkedRelease*>(user);
  if (code != ENG_EVENT_USER_COUNT || parked->releaser != nullptr) return;
  __atomic_sub_fetch(&parked->source->users, 255, __ATOMIC_ACQ_REL);  // undo the count we planted
  parked->releaser = CreateThread(nullptr, 0, ReleaseSource, parked, 0, nullptr);
  WaitUntil([&] { return (BufferStateFlags(parked->source) & PB_DRAINING) != 0; });
}

TEST(ResampleRegion, SourceReleasedMidwayStopsWithBufferReleased) {
  struct Pair {
    PixelBuffer src{}, dst{};
    ~Pair() {
      ReleasePixelBuffer(&src);
      ReleasePixelBuffer(&dst);
    }
  } p;
  ASSERT_TRUE(MakeBuffer(&p.src, 64, 64, PositionPixel));
  ASSERT_TRUE(MakeBuffer(&p.dst, 32, 32, [](uint32_t, uint32_t) { return kUntouchedPixel; }));
  ParkedRelease parked{&p.src, nullptr, -1};
  EngineThreadState* s = GetEngineThreadState();
  s->notify = ParkUntilDraining;
  s->notifyUserValue = reinterpret_cast<uintptr_t>(&parked);
  p.src.users = 255;
  int result = ResampleRegion(&p.dst, 0, 0, 31, 31, &p.src, 0, 0, 63, 63, 0);
  uint32_t error = EngineLastError();
  s->notify = nullptr;
  ASSERT_NE(nullptr, parked.releaser);
  WaitForSingleObject(parked.releaser, INFINITE);
  CloseHandle(parked.releaser);
  EXPECT_EQ(0, result);
  EXPECT_EQ(ENG_BUFFER_RELEASED, error);
  EXPECT_EQ(kUntouchedPixel, PixelAt(p.dst, 0, 0)) << "no row was written after the release began";
  EXPECT_EQ(1, parked.releaseResult);
  EXPECT_TRUE(AllZero(p.src));
}
