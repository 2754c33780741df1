// The engine's image: 32-bit pixels (blue, green, red, fourth byte; rows top
// to bottom) in a DIB section with its own memory DC, in memory the buffer
// owns, or in memory that stays the caller's. The descriptor is owned by its
// user; threads share it through the atomic fields.
#pragma once
#include <atomic>
#include <cstdint>

struct PixelBuffer {
  uint32_t width;
  uint32_t height;
  uint32_t pitch;  // row stride in pixels
  uint32_t* pixels;
  uint8_t magic;
  uint8_t kind;
  std::atomic<uint8_t> stateFlags;
  std::atomic<int32_t> users;
  std::atomic<uint32_t> owner;  // thread holding it exclusively, 0 if none
  uintptr_t handle;  // DIB: the memory DC; owned: the block; external: the pixels
  union {
    struct {
      void* bitmap;         // the DIB section
      void* initialBitmap;  // what the memory DC held when it was made
    } dib;
    struct {
      uint32_t width, height, pitch;
    } memory;
    uint8_t raw[16];
  } storage;
  uint8_t reserved[8];
};

constexpr uint8_t PIXEL_BUFFER_MAGIC = 0x9A;

// Storage kinds.
constexpr uint8_t PB_EMPTY = 0;
constexpr uint8_t PB_DIB = 1;
constexpr uint8_t PB_OWNED = 2;
constexpr uint8_t PB_EXTERNAL = 3;

// stateFlags bits.
constexpr uint8_t PB_CLOSING = 1;
constexpr uint8_t PB_DRAINING = 2;

// CreatePixelBuffer flags.
constexpr int32_t PB_STORAGE_AUTO = 0;
constexpr int32_t PB_STORAGE_DIB = 2;
// Owned memory at exactly the size asked for, never reduced: the working copy
// of an editor's image and whatever is handed to a plug-in must not lose
// pixels. Fails with OutOfMemory when that memory cannot be had.
constexpr int32_t PB_STORAGE_EXACT = 4;

// Engine error codes, left in the thread's lastError behind a zero result.
constexpr uint32_t ENG_BUFFER_EMPTY = 1;
constexpr uint32_t ENG_BAD_BUFFER = 3;
constexpr uint32_t ENG_BAD_ARGUMENT = 5;
constexpr uint32_t ENG_BAD_STORAGE = 6;
constexpr uint32_t ENG_OUT_OF_MEMORY = 8;
constexpr uint32_t ENG_BUFFER_BUSY = 10;
constexpr uint32_t ENG_BUFFER_RELEASED = 13;
constexpr uint32_t ENG_GDI_FAILURE = 17;

// Engine events; they report and never change an outcome.
constexpr uint32_t ENG_EVENT_DRAIN_GAVE_UP = 0x40000002;
constexpr uint32_t ENG_EVENT_WAIT_TIMED_OUT = 0x40000003;
constexpr uint32_t ENG_EVENT_USER_COUNT = 0x40000004;
constexpr uint32_t ENG_EVENT_DC_REMADE = 0x40000005;

// Size limits of a buffer with automatic or DIB storage.
constexpr uint64_t PB_MAX_PIXELS = 250000000;
constexpr uint32_t PB_MAX_SIDE = 65536;
constexpr uint64_t PB_DIB_MAX_PIXELS = 50000000;  // automatic storage above this is owned memory

// 0 failure, 1 created at the requested size, 3 created at a reduced size
// (never with PB_STORAGE_EXACT). Negative sides count by their absolute value.
int CreatePixelBuffer(PixelBuffer* buffer, int32_t width, int32_t height, int32_t flags);
// Wraps pixels that stay the caller's; pitch in pixels, at least width.
int AttachPixelMemory(PixelBuffer* buffer, int32_t width, int32_t height, int32_t pitch, void* pixels);
int ReleasePixelBuffer(PixelBuffer* buffer);
bool ValidatePixelBuffer(PixelBuffer* buffer);
int RefreshBufferSize(PixelBuffer* buffer);
// Each successful begin is paired with one end on the same thread.
int BeginPixelAccess(PixelBuffer* buffer, bool exclusive);
int EndPixelAccess(PixelBuffer* buffer, bool exclusive);
// DIB sections only: selects the section into its DC and answers the DC as a
// nonzero number; the caller holds the buffer until ReleaseBufferDC.
intptr_t AcquireBufferDC(PixelBuffer* buffer, void** dc);
void ReleaseBufferDC(PixelBuffer* buffer);

// Records code as the calling thread's last engine error (nothing without a
// record) and answers 0, so failures read `return EngineFail(code);`.
int EngineFail(uint32_t code);
// The same for a failed system call: its own error code is kept beside.
int EngineFailSystem(uint32_t code, uint32_t systemCode);
uint32_t EngineLastError();
// The system's error code behind the last engine error, 0 when there was none.
uint32_t EngineSystemError();

uint8_t BufferStateFlags(const PixelBuffer* buffer);
int32_t BufferUsers(const PixelBuffer* buffer);
