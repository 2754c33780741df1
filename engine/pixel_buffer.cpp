#include "engine/pixel_buffer.h"

#include <cstring>

#include "base/memory.h"
#include "engine/buffer_geometry.h"
#include "engine/runtime.h"
#include "engine/system_calls.h"

// Handle values below this are never real memory or objects.
constexpr uintptr_t kLowestAddress = 0x10000;

int EngineFail(uint32_t code) { return EngineFailSystem(code, 0); }

int EngineFailSystem(uint32_t code, uint32_t systemCode) {
  EngineThreadState* state = GetEngineThreadState();
  if (state != nullptr) {
    state->lastError = code;
    state->systemError = systemCode;
  }
  return 0;
}

uint32_t EngineLastError() {
  EngineThreadState* state = GetEngineThreadState();
  return state != nullptr ? state->lastError : 0;
}

uint32_t EngineSystemError() {
  EngineThreadState* state = GetEngineThreadState();
  return state != nullptr ? state->systemError : 0;
}

uint8_t BufferStateFlags(const PixelBuffer* buffer) { return buffer->stateFlags; }
int32_t BufferUsers(const PixelBuffer* buffer) { return buffer->users; }

static bool Accessible(PixelBuffer* buffer) { return ProbeMemory(buffer, sizeof(*buffer), true) == 0; }
static bool Closing(const PixelBuffer* buffer) { return (BufferStateFlags(buffer) & PB_CLOSING) != 0; }

// Every wait here yields 2000 times, then sleeps in 10 ms steps until about
// limitMs has passed; on giving up it reports the event and lets the caller go
// on. Answers true when the condition cleared.
template <class Busy>
static bool BackoffWait(int64_t limitMs, uint32_t event, Busy busy) {
  int32_t attempts = 0;
  int64_t elapsed = -20000;
  while (busy()) {
    if (attempts < 2000) {
      osSleep(0);
    } else if (elapsed > limitMs) {
      NotifyEngineEvent(event);
      return false;
    } else {
      osSleep(10);
    }
    ++attempts;
    elapsed += 10;
  }
  return true;
}

// Waits while another live thread holds the buffer exclusively.
static void WaitForExclusiveHolder(PixelBuffer* buffer, uint32_t self) {
  BackoffWait(5000, ENG_EVENT_WAIT_TIMED_OUT, [&] {
    uint32_t owner = buffer->owner;
    return owner != 0 && owner != self && IsThreadAlive(owner);
  });
}

static bool ReadDibSection(const PixelBuffer* buffer, DIBSECTION* section) {
  HBITMAP bitmap = static_cast<HBITMAP>(buffer->storage.dib.bitmap);
  if (bitmap == nullptr) return false;
  return osGetObjectW(bitmap, sizeof(*section), section) == static_cast<int>(sizeof(*section));
}

// One retry after a flush and a yield: a section just made may not be
// described yet.
static bool ReadDibSectionRetry(const PixelBuffer* buffer, DIBSECTION* section) {
  if (ReadDibSection(buffer, section)) return true;
  osGdiFlush();
  osSleep(0);
  return ReadDibSection(buffer, section);
}

static void TakeDibGeometry(PixelBuffer* buffer, const DIBSECTION& section) {
  LONG w = section.dsBm.bmWidth, h = section.dsBm.bmHeight;
  buffer->width = static_cast<uint32_t>(w < 0 ? -w : w);
  buffer->height = static_cast<uint32_t>(h < 0 ? -h : h);
  buffer->pitch = static_cast<uint32_t>(section.dsBm.bmWidthBytes) / 4;
  buffer->pixels = static_cast<uint32_t*>(section.dsBm.bmBits);
}

static bool StorageFieldsPlausible(const PixelBuffer* buffer) {
  return buffer->storage.memory.width > 0 && buffer->storage.memory.height > 0 && buffer->storage.memory.pitch > 0 &&
         buffer->handle > kLowestAddress;
}

static void TakeMemoryGeometry(PixelBuffer* buffer) {
  buffer->width = buffer->storage.memory.width;
  buffer->height = buffer->storage.memory.height;
  buffer->pitch = buffer->storage.memory.pitch;
  buffer->pixels = reinterpret_cast<uint32_t*>(buffer->handle);
}

static bool IsDcType(DWORD type) { return type == OBJ_DC || type == OBJ_MEMDC; }

static bool BitmapUsable(HBITMAP bitmap) {
  if (bitmap == nullptr) return false;
  if (osGetObjectType(bitmap) == OBJ_BITMAP) return true;
  BITMAP description;
  return osGetObjectW(bitmap, sizeof(description), &description) != 0;
}

bool ValidatePixelBuffer(PixelBuffer* buffer) {
  if (GetEngineThreadState() == nullptr) return false;
  if (!Accessible(buffer) || buffer->magic != PIXEL_BUFFER_MAGIC) return EngineFail(ENG_BAD_BUFFER);
  if (Closing(buffer)) return EngineFail(ENG_BUFFER_BUSY);
  switch (buffer->kind) {
    case PB_DIB: {
      HDC dc = reinterpret_cast<HDC>(buffer->handle);
      HBITMAP bitmap = static_cast<HBITMAP>(buffer->storage.dib.bitmap);
      if (IsDcType(osGetObjectType(dc)) && osGetObjectType(bitmap) == OBJ_BITMAP) return true;
      osSleep(0);
      osGdiFlush();
      bool dcGood = dc != nullptr && IsDcType(osGetObjectType(dc));
      bool bitmapGood = BitmapUsable(bitmap);
      if (dcGood) return bitmapGood ? true : EngineFail(ENG_BAD_BUFFER);
      if (!bitmapGood) return EngineFail(ENG_BAD_BUFFER);
      // The memory DC was destroyed behind our back: make a new one.
      NotifyEngineEvent(ENG_EVENT_DC_REMADE);
      HBITMAP initial = static_cast<HBITMAP>(buffer->storage.dib.initialBitmap);
      if (dc != nullptr) {
        if (initial != nullptr) osSelectObject(dc, initial);
        osDeleteDC(dc);
      } else if (initial != nullptr) {
        osDeleteObject(initial);
      }
      buffer->handle = 0;
      buffer->storage.dib.initialBitmap = nullptr;
      HDC fresh = osCreateCompatibleDC(nullptr);
      if (fresh == nullptr) return EngineFailSystem(ENG_GDI_FAILURE, GetLastError());
      buffer->handle = reinterpret_cast<uintptr_t>(fresh);
      buffer->storage.dib.initialBitmap = osGetCurrentObject(fresh, OBJ_BITMAP);
      return true;
    }
    case PB_OWNED:
    case PB_EXTERNAL:
      return StorageFieldsPlausible(buffer) ? true : EngineFail(ENG_BAD_STORAGE);
    default:
      return EngineFail(ENG_BUFFER_EMPTY);
  }
}

static void FreeStorage(PixelBuffer* buffer) {
  switch (buffer->kind) {
    case PB_DIB: {
      osGdiFlush();
      HDC dc = reinterpret_cast<HDC>(buffer->handle);
      HGDIOBJ initial = buffer->storage.dib.initialBitmap;
      if (dc != nullptr) {
        if (initial != nullptr) {
          osSelectObject(dc, initial);
          osDeleteDC(dc);
          osDeleteObject(initial);
          initial = nullptr;
        } else {
          osDeleteDC(dc);
        }
      }
      if (buffer->storage.dib.bitmap != nullptr) osDeleteObject(buffer->storage.dib.bitmap);
      if (initial != nullptr) osDeleteObject(initial);
      break;
    }
    case PB_OWNED:
      FreeBlock(reinterpret_cast<void*>(buffer->handle));
      break;
    default:  // external memory stays the caller's
      break;
  }
}

int ReleasePixelBuffer(PixelBuffer* buffer) {
  EngineThreadState* state = GetEngineThreadState();
  if (state == nullptr) return 0;
  if (!Accessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  // Paired with the count BeginPixelAccess takes before its second look at
  // this flag (both sequentially consistent).
  buffer->stateFlags |= PB_CLOSING;
  state->lastError = ENG_BUFFER_BUSY;
  uint32_t self = osGetCurrentThreadId();
  bool live = buffer->magic == PIXEL_BUFFER_MAGIC && buffer->kind >= PB_DIB && buffer->kind <= PB_EXTERNAL;
  if (live) {
    uint32_t owner = buffer->owner;
    if (owner != 0 && owner != self) {
      WaitForExclusiveHolder(buffer, self);
    }
    buffer->owner = 0;
    BackoffWait(2000, ENG_EVENT_WAIT_TIMED_OUT, [&] { return BufferUsers(buffer) >= 1; });
  }
  buffer->width = 0;
  buffer->height = 0;
  buffer->pitch = 0;
  if (live) {
    BackoffWait(1000, ENG_EVENT_DRAIN_GAVE_UP, [&] {
      buffer->stateFlags |= PB_CLOSING | PB_DRAINING;
      return BufferUsers(buffer) >= 1;
    });
  }
  state->lastError = ENG_BUFFER_EMPTY;
  // Storage is freed only for a descriptor that we set up: a stray kind in
  // foreign bytes must not free someone else's memory.
  if (live) FreeStorage(buffer);
  if (state->currentBuffer == buffer) state->currentBuffer = nullptr;
  buffer->users = 0;
  buffer->stateFlags = 0;
  memset(static_cast<void*>(buffer), 0, sizeof(*buffer));
  return 1;
}

// Releases after a failed set-up and keeps the failure's codes.
static int FailAndRelease(PixelBuffer* buffer, uint32_t code, uint32_t systemCode = 0) {
  ReleasePixelBuffer(buffer);
  return EngineFailSystem(code, systemCode);
}

static void ResetDescriptor(PixelBuffer* buffer) {
  memset(static_cast<void*>(buffer), 0, sizeof(*buffer));
  buffer->magic = PIXEL_BUFFER_MAGIC;
}

static int CreateDibStorage(PixelBuffer* buffer, uint32_t w, uint32_t h) {
  uint64_t imageBytes = DibImageBytes(w, h);
  if (imageBytes > 0xFFFFFFFFu) return FailAndRelease(buffer, ENG_OUT_OF_MEMORY);
  buffer->kind = PB_DIB;
  HDC dc = osCreateCompatibleDC(nullptr);
  if (dc == nullptr) return FailAndRelease(buffer, ENG_GDI_FAILURE, GetLastError());
  buffer->handle = reinterpret_cast<uintptr_t>(dc);

  BITMAPV5HEADER header;
  memset(&header, 0, sizeof(header));
  header.bV5Size = sizeof(header);
  header.bV5Width = static_cast<LONG>(w);
  header.bV5Height = -static_cast<LONG>(h);  // top-down
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5SizeImage = static_cast<DWORD>(imageBytes);
  header.bV5XPelsPerMeter = 3780;
  header.bV5YPelsPerMeter = 3780;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  header.bV5CSType = 0x73524742;  // LCS_sRGB, 'sRGB'
  void* bits = nullptr;
  SetLastError(0);
  HBITMAP bitmap = osCreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) {
    DWORD error = GetLastError();
    return FailAndRelease(buffer, error == ERROR_NOT_ENOUGH_MEMORY ? ENG_OUT_OF_MEMORY : ENG_GDI_FAILURE, error);
  }
  buffer->storage.dib.bitmap = bitmap;
  buffer->storage.dib.initialBitmap = osGetCurrentObject(dc, OBJ_BITMAP);
  osGdiFlush();
  DIBSECTION section;
  if (osGetObjectType(bitmap) != OBJ_BITMAP || !ReadDibSection(buffer, &section))
    return FailAndRelease(buffer, ENG_GDI_FAILURE);
  TakeDibGeometry(buffer, section);
  return 1;
}

static int CreateOwnedStorage(PixelBuffer* buffer, uint32_t w, uint32_t h) {
  buffer->kind = PB_OWNED;
  buffer->storage.memory.width = w;
  buffer->storage.memory.height = h;
  buffer->storage.memory.pitch = w;
  uint64_t bytes = OwnedStorageBytes(w, h);
  void* block = bytes != 0 ? AllocFixed(bytes) : nullptr;
  if (block == nullptr) return FailAndRelease(buffer, ENG_OUT_OF_MEMORY);
  buffer->handle = reinterpret_cast<uintptr_t>(block);
  TakeMemoryGeometry(buffer);
  return 1;
}

int CreatePixelBuffer(PixelBuffer* buffer, int32_t width, int32_t height, int32_t flags) {
  EngineThreadState* state = GetEngineThreadState();
  if (state == nullptr) return 0;
  if (!Accessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  BufferSize size;
  bool sized = flags == PB_STORAGE_EXACT ? ExactBufferSize(width, height, &size)
                                         : ComputeBufferSize(width, height, &size);
  if (!sized) return EngineFail(ENG_BAD_ARGUMENT);
  if (buffer->magic == PIXEL_BUFFER_MAGIC && ValidatePixelBuffer(buffer)) ReleasePixelBuffer(buffer);
  ResetDescriptor(buffer);
  int made = ChooseStorageKind(size.width, size.height, flags) == PB_DIB ? CreateDibStorage(buffer, size.width, size.height)
                                                                          : CreateOwnedStorage(buffer, size.width, size.height);
  if (!made) return 0;
  if (!ValidatePixelBuffer(buffer)) return FailAndRelease(buffer, state->lastError, state->systemError);
  return size.reduced ? 3 : 1;
}

int AttachPixelMemory(PixelBuffer* buffer, int32_t width, int32_t height, int32_t pitch, void* pixels) {
  EngineThreadState* state = GetEngineThreadState();
  if (state == nullptr) return 0;
  if (!Accessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  if (ExternalSpanBytes(width, height, pitch) == 0 || ProbeMemory(pixels, 4, false) != 0)
    return EngineFail(ENG_BAD_ARGUMENT);
  if (buffer->magic == PIXEL_BUFFER_MAGIC && ValidatePixelBuffer(buffer)) ReleasePixelBuffer(buffer);
  ResetDescriptor(buffer);
  buffer->kind = PB_EXTERNAL;
  buffer->storage.memory.width = static_cast<uint32_t>(width);
  buffer->storage.memory.height = static_cast<uint32_t>(height);
  buffer->storage.memory.pitch = static_cast<uint32_t>(pitch);
  buffer->handle = reinterpret_cast<uintptr_t>(pixels);
  TakeMemoryGeometry(buffer);
  return 1;
}

int RefreshBufferSize(PixelBuffer* buffer) {
  if (GetEngineThreadState() == nullptr) return 0;
  if (!Accessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  if (Closing(buffer)) return EngineFail(ENG_BUFFER_BUSY);
  if (buffer->kind == PB_EMPTY || buffer->kind > PB_EXTERNAL) return EngineFail(ENG_BUFFER_EMPTY);
  if (buffer->magic != PIXEL_BUFFER_MAGIC) return EngineFail(ENG_BAD_BUFFER);
  if (buffer->kind == PB_DIB) {
    DIBSECTION section;
    if (!ReadDibSection(buffer, &section)) return EngineFail(ENG_BAD_BUFFER);
    TakeDibGeometry(buffer, section);
    return reinterpret_cast<uintptr_t>(buffer->pixels) > kLowestAddress ? 1 : EngineFail(ENG_BAD_BUFFER);
  }
  if (!StorageFieldsPlausible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  TakeMemoryGeometry(buffer);
  return 1;
}

static void TouchFirstPixel(const PixelBuffer* buffer) {
  volatile uint32_t* first = buffer->pixels;
  if (first != nullptr) *first = *first;
}

// Drops a count taken by BeginPixelAccess that did not become a section.
static int BackOut(PixelBuffer* buffer, uint32_t code) {
  --buffer->users;
  return EngineFail(code);
}

int BeginPixelAccess(PixelBuffer* buffer, bool exclusive) {
  if (GetEngineThreadState() == nullptr) return 0;
  if (!Accessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  if (Closing(buffer)) return EngineFail(ENG_BUFFER_BUSY);
  // Count in first, then look at the closing flag again: a release sets the
  // flag before it waits for the count to drop, so either it sees us and
  // waits, or we see it and leave. Checked only before counting, a release
  // could free the storage between the check and the count.
  int32_t users = ++buffer->users;
  if (users > 255) NotifyEngineEvent(ENG_EVENT_USER_COUNT);
  if (Closing(buffer)) return BackOut(buffer, ENG_BUFFER_BUSY);
  uint32_t self = osGetCurrentThreadId();
  uint32_t owner = buffer->owner;
  if (owner != 0 && owner != self) {
    WaitForExclusiveHolder(buffer, self);
    // A holder that ended (or kept it past the limit) loses its claim.
    buffer->owner.compare_exchange_strong(owner, 0);
  }
  if (buffer->kind == PB_EMPTY || buffer->kind > PB_EXTERNAL) return BackOut(buffer, ENG_BUFFER_EMPTY);
  if (buffer->magic != PIXEL_BUFFER_MAGIC) return BackOut(buffer, ENG_BAD_BUFFER);
  if (buffer->kind == PB_DIB) {
    if (buffer->pixels == nullptr || users == 1) {
      DIBSECTION section;
      if (!ReadDibSectionRetry(buffer, &section) || section.dsBm.bmBits == nullptr)
        return BackOut(buffer, ENG_GDI_FAILURE);
      TakeDibGeometry(buffer, section);
    }
    TouchFirstPixel(buffer);
  } else {
    if (!StorageFieldsPlausible(buffer)) return BackOut(buffer, ENG_BUFFER_EMPTY);
    TakeMemoryGeometry(buffer);
  }
  // A shared section leaves the owner field alone: clearing it would undo
  // an exclusive hold another thread took meanwhile.
  if (exclusive) buffer->owner = self;
  if (buffer->pixels == nullptr) {
    EndPixelAccess(buffer, exclusive);
    return EngineFail(ENG_BAD_BUFFER);
  }
  return 1;
}

int EndPixelAccess(PixelBuffer* buffer, bool exclusive) {
  if (GetEngineThreadState() == nullptr) return 0;
  if (!Accessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  uint32_t self = osGetCurrentThreadId();
  buffer->owner.compare_exchange_strong(self, 0);
  if (--buffer->users < 0) {
    buffer->users = 0;
    NotifyEngineEvent(ENG_EVENT_USER_COUNT);
  }
  return 1;
}

intptr_t AcquireBufferDC(PixelBuffer* buffer, void** dcOut) {
  if (GetEngineThreadState() == nullptr) return 0;
  if (!Accessible(buffer)) return EngineFail(ENG_BAD_BUFFER);
  if (dcOut == nullptr) return EngineFail(ENG_BAD_ARGUMENT);
  if (!ValidatePixelBuffer(buffer)) return EngineFail(Closing(buffer) ? ENG_BUFFER_BUSY : ENG_BAD_BUFFER);
  if (Closing(buffer)) return EngineFail(ENG_BUFFER_BUSY);
  if (buffer->kind != PB_DIB) return EngineFail(ENG_BAD_BUFFER);
  uint32_t self = osGetCurrentThreadId();
  WaitForExclusiveHolder(buffer, self);
  buffer->owner = self;
  DIBSECTION section;
  if (!ReadDibSectionRetry(buffer, &section)) {
    buffer->owner.compare_exchange_strong(self, 0);
    return EngineFail(ENG_GDI_FAILURE);
  }
  TakeDibGeometry(buffer, section);
  HDC dc = reinterpret_cast<HDC>(buffer->handle);
  HGDIOBJ bitmap = buffer->storage.dib.bitmap;
  if (osGetCurrentObject(dc, OBJ_BITMAP) != bitmap) osSelectObject(dc, bitmap);
  *dcOut = dc;
  osSelectClipRgn(dc, nullptr);
  osGdiFlush();
  return reinterpret_cast<intptr_t>(dc);
}

void ReleaseBufferDC(PixelBuffer* buffer) {
  if (GetEngineThreadState() == nullptr || !Accessible(buffer)) return;
  osGdiFlush();
  uint32_t self = osGetCurrentThreadId();
  buffer->owner.compare_exchange_strong(self, 0);
  if (buffer->kind != PB_DIB) return;
  HDC dc = reinterpret_cast<HDC>(buffer->handle);
  if (dc == nullptr) return;
  if (buffer->storage.dib.initialBitmap != nullptr) osSelectObject(dc, buffer->storage.dib.initialBitmap);
  osSelectClipRgn(dc, nullptr);
}
