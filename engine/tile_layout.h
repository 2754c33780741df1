// Pure tile arithmetic for advanceState: layouts, block sizes and the moves
// between a plug-in's tile and 32-bit pixels. No Win32 here.
#pragma once
#include <cstdint>

// Plane p of a pixel (blue, green, red, fourth byte) lives at this byte; the
// fourth byte travels as its complement.
constexpr int kPlaneByte[4] = {2, 1, 0, 3};

struct TileLayout {
  int32_t columnBytes;
  int32_t planeBytes;
  int32_t rowBytes;
  uint64_t total;       // b · n · h · w bytes; 0 for an empty rectangle
  uint32_t bytesPerSample;
  uint32_t planes;      // n
  int64_t width, height;
};

// False for the refused layouts (2, 3, 4, 6). Strides that do not fit the
// record's 32-bit fields are refused too (answered as out of memory).
enum TileLayoutResult { TILE_LAYOUT_OK = 0, TILE_LAYOUT_REFUSED = 1, TILE_LAYOUT_TOO_LARGE = 2 };
TileLayoutResult ComputeTileLayout(int16_t wantLayout, int32_t depth, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom, int32_t loPlane, int32_t hiPlane, TileLayout* out);

// The block size for S bytes: 64 KiB rounding with slack so that tiles of a
// similar size reuse one block. 0 when S cannot be represented.
uint64_t TileAllocationSize(uint64_t neededBytes);
// An existing block of `blockSize` bytes is reused for an allocation size A
// when A ≤ blockSize ≤ A + A/2.
bool TileBlockReusable(uint64_t blockSize, uint64_t allocationSize);
// Bytes needed for a tile with padding: total + 2·|(h + 1)·pad·b·n|; 0 on overflow.
uint64_t TileBytesWithPadding(const TileLayout& layout, int32_t padValue);

// A rectangle clamped to an image, and the plane range clamped to 0..3.
struct TileClamp {
  int32_t x0, y0, x1, y1;  // x1, y1 exclusive
  int32_t p0, p1;          // inclusive
};
TileClamp ClampTile(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t loPlane, int32_t hiPlane,
                    uint32_t imageWidth, uint32_t imageHeight);

// Copies the clamped area between pixels (pitch in pixels) and a tile whose
// origin is (originX, originY, originPlane): image pixel (x, y) is tile
// column x - originX, row y - originY. Only the first byte of each sample is
// used.
void FillTileFromPixels(const uint8_t* pixels, uint32_t pitch, const TileClamp& area, uint8_t* tile,
                        const TileLayout& layout, int32_t originX, int32_t originY, int32_t originPlane);
void StoreTileToPixels(uint8_t* pixels, uint32_t pitch, const TileClamp& area, const uint8_t* tile,
                       int32_t rowBytes, int32_t columnBytes, int32_t planeBytes, int32_t originX, int32_t originY,
                       int32_t originPlane);

// Padding values a plug-in may ask for, as the published interface defines
// them; 0..255 fills with that byte.
constexpr int32_t TILE_PAD_EDGE = -1;   // plugInWantsEdgeReplication
constexpr int32_t TILE_PAD_NONE = -2;   // plugInDoesNotWantPadding
constexpr int32_t TILE_PAD_ERROR = -3;  // plugInWantsErrorOnBoundsException

struct TileImage {
  const uint8_t* pixels;
  uint32_t pitch, width, height;  // pitch in pixels
};

// True when a rectangle that is not empty reaches outside width x height.
bool TileReachesOutside(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t width, uint32_t height);

// Fills the whole tile of (left, top, right, bottom) and planes
// loPlane..hiPlane: image pixel (x, y) at tile column x - left, row y - top,
// whatever part of the rectangle lies in the image; the samples outside the
// image by `padding`: 0..255 that byte, TILE_PAD_EDGE the nearest image
// pixel, any other value leaves them as they are. Planes are clamped to
// 0..3 and the first kept plane starts the tile, as in FillTileFromPixels.
void FillTile(const TileImage& image, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t loPlane,
              int32_t hiPlane, uint8_t* tile, const TileLayout& layout, int32_t padding);
