// What an image file says besides its pixels and the tool keeps: its
// resolution, its colour profile and, from a PNG, its colour and text chunks.
// Read from the file's bytes; no decompression, no file system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "editor/cli/png_chunks.h"

enum ResolutionUnit : uint8_t {
  RESOLUTION_NONE = 0,    // the file gives none
  RESOLUTION_ASPECT = 1,  // only the ratio of x to y (PNG unit 0, JFIF unit 0)
  RESOLUTION_PER_METRE = 2,
  RESOLUTION_PER_INCH = 3,
  RESOLUTION_PER_CM = 4,
};

// As the file states it, so that it is written back unchanged.
struct ImageResolution {
  ResolutionUnit unit = RESOLUTION_NONE;
  uint32_t x = 0;
  uint32_t y = 0;
};

// What a filter is told when the file gives no resolution.
constexpr double DEFAULT_DPI = 72.0;
// The filter record holds resolutions as 16.16 fixed point numbers.
constexpr double MAX_FILTER_DPI = 32767.0;

// Dots per inch on each axis, as a filter is told them: DEFAULT_DPI unless
// the file gives an absolute resolution that the filter record can hold.
// Pixels per metre that are a whole number of dots per inch rounded (300 dpi
// is stored as 11811 per metre) give that whole number.
void ResolutionDpi(const ImageResolution& r, double* x, double* y);

// Pixels per metre, as PNG and BMP store them. Answers 0 when the file's
// resolution is not absolute or a value does not fit 31 bits.
int ResolutionPerMetre(const ImageResolution& r, uint32_t* x, uint32_t* y);

enum IccSpace : int {
  ICC_SPACE_UNKNOWN = 0,  // not a profile, or too short to say
  ICC_SPACE_GREY = 1,
  ICC_SPACE_RGB = 2,
  ICC_SPACE_OTHER = 3,
};

// The data colour space in a profile's header.
IccSpace IccProfileSpace(const uint8_t* profile, size_t length);

enum ImageFileFormat : int {
  IMAGE_FORMAT_OTHER = 0,
  IMAGE_FORMAT_PNG = 1,
  IMAGE_FORMAT_JPEG = 2,
  IMAGE_FORMAT_BMP = 3,
};

struct ImageMetadata {
  ImageFileFormat format = IMAGE_FORMAT_OTHER;
  ImageResolution resolution;
  std::vector<PngChunk> pngChunks;  // from a PNG: carried into a PNG as they are
  std::vector<uint8_t> iccProfile;  // from a JPEG: the whole profile, uncompressed
  uint32_t refused = 0;             // parts left behind as malformed
};

// Reads what it can from a PNG, JPEG (JFIF density, ICC profile segments) or
// BMP (header resolution); other bytes give an empty record. Never fails: a
// malformed part is left out and counted in `refused`.
void ReadImageMetadata(const uint8_t* bytes, size_t length, ImageMetadata* metadata);
