#include "engine/display_pixels.h"

#include "engine/system_calls.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "engine/pixel_buffer.h"
#include "engine/pixel_map_convert.h"
#include "engine/region_copy.h"
#include "engine/runtime.h"
#include "sdk/pixel_map.h"
#include "base/guard.h"

static int32_t ToInt32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int16_t DisplayPixels(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow, int32_t dstCol,
                      void* platformContext) {
  // Both records live in the plug-in's memory: read them only once they are
  // known to be readable, and work on copies.
  if (source == nullptr || srcRect == nullptr || platformContext == nullptr) return filterBadParameters;
  if (ProbeMemory(source, offsetof(PSPixelMap, mat), false) != 0 || ProbeMemory(srcRect, sizeof(VRect), false) != 0)
    return filterBadParameters;
  PSPixelMap map;
  memset(&map, 0, sizeof(map));
  memcpy(&map, source, offsetof(PSPixelMap, mat));
  VRect rect = *srcRect;
  if (map.baseAddr == nullptr || map.rowBytes < 1 || map.colBytes < 1) return filterBadParameters;
  if (rect.right <= rect.left || rect.bottom <= rect.top) return noErr;

  int64_t w = std::abs(static_cast<int64_t>(map.bounds.right) - map.bounds.left);
  int64_t h = std::abs(static_cast<int64_t>(map.bounds.bottom) - map.bounds.top);
  PixelBuffer display;
  memset(static_cast<void*>(&display), 0, sizeof(display));
  if (!CreatePixelBuffer(&display, ToInt32(w), ToInt32(h), PB_STORAGE_DIB)) return memFullErr;

  OSErr result = noErr;
  if (BeginPixelAccess(&display, false)) {
    ClearRegion(&display, 0, 0, ToInt32(w - 1), ToInt32(h - 1));
    // A reduced buffer holds fewer pixels than the map: convert only what fits.
    uint32_t columns = static_cast<uint32_t>(std::min<int64_t>(w, display.width));
    uint32_t rows = static_cast<uint32_t>(std::min<int64_t>(h, display.height));
    uint32_t* pixels = display.pixels;
    uint32_t pitch = display.pitch;
    const PSPixelMap* mapCopy = &map;
    if (!Guarded([&] { ConvertPixelMap(*mapCopy, columns, rows, pixels, pitch); })) result = filterBadParameters;
    EndPixelAccess(&display, false);
  }
  void* dc = nullptr;
  if (result == noErr && AcquireBufferDC(&display, &dc)) {
    osBitBlt(static_cast<HDC>(platformContext), dstCol, dstRow, ToInt32(static_cast<int64_t>(rect.right) - rect.left),
           ToInt32(static_cast<int64_t>(rect.bottom) - rect.top), static_cast<HDC>(dc),
           ToInt32(static_cast<int64_t>(rect.left) - map.bounds.left), ToInt32(static_cast<int64_t>(rect.top) - map.bounds.top),
           SRCCOPY);
    ReleaseBufferDC(&display);
  }
  ReleasePixelBuffer(&display);
  return result;
}
