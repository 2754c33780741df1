// Turns the pixels of a plug-in's pixel map into display pixels (blue, green,
// red, fourth byte). Free of system calls; the caller guards the reads, since
// the map points into the plug-in's memory.
#pragma once
#include <cstdint>

struct PSPixelMap;

enum PixelMapLayout {
  PIXEL_MAP_UNSUPPORTED = 0,  // drawn black
  PIXEL_MAP_GREY = 1,
  PIXEL_MAP_RGB_INTERLEAVED = 2,
  PIXEL_MAP_RGB_PLANAR = 3,
};

PixelMapLayout ClassifyPixelMap(const PSPixelMap& map);

// Converts map rows 0..height-1 and columns 0..width-1 into out (pitch in
// pixels). Unsupported layouts leave out untouched.
void ConvertPixelMap(const PSPixelMap& map, uint32_t width, uint32_t height, uint32_t* out, uint32_t outPitch);
