#include "engine/pixel_map_convert.h"

#include "sdk/pixel_map.h"

constexpr int32_t kModeGrey = 1;
constexpr int32_t kModeRgb = 3;

PixelMapLayout ClassifyPixelMap(const PSPixelMap& map) {
  if (map.imageMode == kModeGrey) return PIXEL_MAP_GREY;
  if (map.imageMode != kModeRgb) return PIXEL_MAP_UNSUPPORTED;
  if (map.planeBytes >= map.colBytes) return PIXEL_MAP_RGB_PLANAR;
  return map.planeBytes == 1 ? PIXEL_MAP_RGB_INTERLEAVED : PIXEL_MAP_UNSUPPORTED;
}

// Offsets come from the plug-in: computed in 64 bits and applied as unsigned
// address arithmetic, so a wild value faults in the reader's guard instead of
// being undefined here.
static inline const uint8_t* MapPixel(const PSPixelMap& map, uint32_t x, uint32_t y) {
  int64_t offset = static_cast<int64_t>(map.rowBytes) * y + static_cast<int64_t>(map.colBytes) * x;
  return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(map.baseAddr) + static_cast<uintptr_t>(offset));
}

static inline const uint8_t* Plane(const uint8_t* p, int32_t planeBytes, int32_t k) {
  return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(p) +
                                          static_cast<uintptr_t>(static_cast<int64_t>(planeBytes) * k));
}

static inline uint32_t Bgrx(uint32_t red, uint32_t green, uint32_t blue, uint32_t fourth) {
  return blue | (green << 8) | (red << 16) | (fourth << 24);
}

void ConvertPixelMap(const PSPixelMap& map, uint32_t width, uint32_t height, uint32_t* out, uint32_t outPitch) {
  PixelMapLayout layout = ClassifyPixelMap(map);
  if (layout == PIXEL_MAP_UNSUPPORTED) return;
  // Interleaved maps of fewer than four bytes leave the missing ones at 0.
  int32_t samples = map.colBytes < 4 ? map.colBytes : 4;
  for (uint32_t y = 0; y < height; ++y) {
    uint32_t* row = out + static_cast<uintptr_t>(static_cast<uint64_t>(outPitch) * y);
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = MapPixel(map, x, y);
      uint32_t value = 0;
      switch (layout) {
        case PIXEL_MAP_GREY:
          value = Bgrx(p[0], p[0], p[0], 0);
          break;
        case PIXEL_MAP_RGB_PLANAR:
          value = Bgrx(*Plane(p, map.planeBytes, 0), *Plane(p, map.planeBytes, 1), *Plane(p, map.planeBytes, 2), 0);
          break;
        default: {
          uint32_t bytes[4] = {0, 0, 0, 0};
          for (int32_t k = 0; k < samples; ++k) bytes[k] = p[k];
          // The fourth byte is stored as transparency, the opposite of what
          // the map holds.
          value = Bgrx(bytes[0], bytes[1], bytes[2], samples > 3 ? 255 - bytes[3] : 0);
          break;
        }
      }
      row[x] = value;
    }
  }
}
