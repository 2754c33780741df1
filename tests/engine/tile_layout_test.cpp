#include <vector>

#include "engine/tile_layout.h"
#include "gtest/gtest.h"

TEST(TileLayout, InterleavedAndPlanarStrides) {
  TileLayout t;
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(1, 8, 0, 0, 10, 5, 0, 3, &t));
  EXPECT_EQ(4, t.columnBytes);
  EXPECT_EQ(1, t.planeBytes);
  EXPECT_EQ(40, t.rowBytes);
  EXPECT_EQ(200u, t.total);
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(5, 8, 0, 0, 10, 5, 0, 3, &t));
  EXPECT_EQ(1, t.columnBytes);
  EXPECT_EQ(10, t.rowBytes);
  EXPECT_EQ(50, t.planeBytes);
  // Layouts 0 and 7 and up are interleaved too; 16-bit depth doubles the samples.
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(9, 16, 0, 0, 10, 5, 0, 2, &t));
  EXPECT_EQ(6, t.columnBytes);
  EXPECT_EQ(2, t.planeBytes);
}

TEST(TileLayout, RefusedLayouts) {
  TileLayout t;
  for (int16_t layout : {2, 3, 4, 6}) EXPECT_EQ(TILE_LAYOUT_REFUSED, ComputeTileLayout(layout, 8, 0, 0, 1, 1, 0, 3, &t));
}

TEST(TileLayout, EmptyRectangleHasNoBytes) {
  TileLayout t;
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(1, 8, 10, 0, 10, 100, 0, 3, &t));
  EXPECT_EQ(0u, t.total);
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(1, 8, 0, 0, 10, 10, 3, 0, &t));
  EXPECT_EQ(0u, t.total);
}

TEST(TileLayout, StridesThatDoNotFitTheRecordAreRefusedNotWrapped) {
  TileLayout t;
  // 2^31 columns of four planes: the row stride cannot be a 32-bit field.
  EXPECT_EQ(TILE_LAYOUT_TOO_LARGE, ComputeTileLayout(1, 8, INT32_MIN, 0, INT32_MAX, 1, 0, 3, &t));
  EXPECT_EQ(TILE_LAYOUT_TOO_LARGE, ComputeTileLayout(5, 8, 0, 0, 70000, 70000, 0, 3, &t));
  // Products past 64 bits: the whole 32-bit range in both directions, planar
  // and with every plane number; refused, not wrapped into a small stride.
  EXPECT_EQ(TILE_LAYOUT_TOO_LARGE, ComputeTileLayout(5, 32, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 3, &t));
  EXPECT_EQ(TILE_LAYOUT_TOO_LARGE,
            ComputeTileLayout(1, 32, INT32_MIN, 0, INT32_MAX, 1, INT32_MIN, INT32_MAX, &t));
  // The same extents reversed make an empty tile, not a failure.
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(5, 32, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, 0, 3, &t));
  EXPECT_EQ(0u, t.total);
}

TEST(TileBlock, SizesAndReuse) {
  EXPECT_EQ(65536u, TileAllocationSize(1000));
  EXPECT_EQ(851968u, TileAllocationSize(700000));
  EXPECT_EQ(458752u, TileAllocationSize(400000));
  const uint64_t existing = TileAllocationSize(1000000);
  EXPECT_TRUE(TileBlockReusable(existing, TileAllocationSize(700000)));
  EXPECT_FALSE(TileBlockReusable(existing, TileAllocationSize(400000)));
  EXPECT_FALSE(TileBlockReusable(65536, 131072));
}

TEST(TileBlock, PaddingEnlargesTheBlockAndHugeValuesAreRefused) {
  TileLayout t;
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(1, 8, 0, 0, 100, 100, 0, 3, &t));
  EXPECT_EQ(40000u + 2u * 101u * 7u * 4u, TileBytesWithPadding(t, 7));
  EXPECT_EQ(40000u + 2u * 101u * 7u * 4u, TileBytesWithPadding(t, -7));
  t.height = INT64_MAX / 2;
  t.total = UINT64_MAX / 2;
  EXPECT_EQ(0u, TileBytesWithPadding(t, 255));
}

TEST(TileClamp, NegativeOriginAndPlanes) {
  TileClamp c = ClampTile(-10, -10, 100, 100, -1, 5, 50, 50);
  EXPECT_EQ(0, c.x0);
  EXPECT_EQ(0, c.y0);
  EXPECT_EQ(50, c.x1);
  EXPECT_EQ(50, c.y1);
  EXPECT_EQ(0, c.p0);
  EXPECT_EQ(3, c.p1);
}

TEST(TileFill, ClampedAreaStartsAtTheTileOrigin) {
  // A 50 × 50 image; the tile describes (-10, -10, 100, 100).
  std::vector<uint8_t> pixels(50 * 50 * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  TileLayout t;
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(1, 8, -10, -10, 100, 100, 0, 3, &t));
  EXPECT_EQ(110 * 4, t.rowBytes);
  std::vector<uint8_t> tile(t.total, 0xCD);
  TileClamp c = ClampTile(-10, -10, 100, 100, 0, 3, 50, 50);
  FillTileFromPixels(pixels.data(), 50, c, tile.data(), t, c.x0, c.y0, c.p0);
  // Pixel (0, 0) is at the start of the tile: red, green, blue, 255 - fourth.
  EXPECT_EQ(pixels[2], tile[0]);
  EXPECT_EQ(pixels[1], tile[1]);
  EXPECT_EQ(pixels[0], tile[2]);
  EXPECT_EQ(255 - pixels[3], tile[3]);
  // Pixel (49, 49) at row 49, column 49 of the tile; beyond it nothing is written.
  size_t at = 49 * t.rowBytes + 49 * 4, src = (49 * 50 + 49) * 4;
  EXPECT_EQ(pixels[src + 2], tile[at]);
  EXPECT_EQ(0xCD, tile[at + 4]);
}

TEST(TileFill, PlaneThreeIsTheComplementBothWays) {
  uint8_t pixel[4] = {1, 2, 3, 0};
  TileLayout t;
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(1, 8, 0, 0, 1, 1, 3, 3, &t));
  uint8_t tile[1] = {0};
  TileClamp c = ClampTile(0, 0, 1, 1, 3, 3, 1, 1);
  FillTileFromPixels(pixel, 1, c, tile, t, 0, 0, 3);
  EXPECT_EQ(255, tile[0]);
  tile[0] = 255;
  pixel[3] = 77;
  StoreTileToPixels(pixel, 1, c, tile, t.rowBytes, t.columnBytes, t.planeBytes, 0, 0, 3);
  EXPECT_EQ(0, pixel[3]);
  EXPECT_EQ(1, pixel[0]);  // other bytes untouched
}

TEST(TileFill, InterleavedRowsOfEveryLengthSwapAndComeBack) {
  // Rows of 1 to 40 pixels: each width of vector step (16, 8 and 4 pixels)
  // and the pixels left over after it.
  for (int32_t w = 1; w <= 40; ++w) {
    std::vector<uint8_t> pixels(w * 2 * 4), back(w * 2 * 4, 0);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 29 + 3);
    TileLayout t;
    ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(1, 8, 0, 0, w, 2, 0, 3, &t));
    std::vector<uint8_t> tile(t.total + 4, 0xEE);
    TileClamp c = ClampTile(0, 0, w, 2, 0, 3, w, 2);
    FillTileFromPixels(pixels.data(), w, c, tile.data(), t, 0, 0, 0);
    for (size_t i = 0; i < t.total; i += 4) {
      ASSERT_EQ(pixels[i + 2], tile[i]) << w;
      ASSERT_EQ(pixels[i + 1], tile[i + 1]) << w;
      ASSERT_EQ(pixels[i], tile[i + 2]) << w;
      ASSERT_EQ(255 - pixels[i + 3], tile[i + 3]) << w;
    }
    EXPECT_EQ(0xEE, tile[t.total]) << w;  // nothing past the tile
    StoreTileToPixels(back.data(), w, c, tile.data(), t.rowBytes, t.columnBytes, t.planeBytes, 0, 0, 0);
    EXPECT_EQ(pixels, back) << w;
  }
}

TEST(TileFill, PlanarRoundTripKeepsEveryByte) {
  std::vector<uint8_t> pixels(7 * 3 * 4), back(7 * 3 * 4, 0);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 13 + 1);
  TileLayout t;
  ASSERT_EQ(TILE_LAYOUT_OK, ComputeTileLayout(5, 8, 0, 0, 7, 3, 0, 3, &t));
  std::vector<uint8_t> tile(t.total);
  TileClamp c = ClampTile(0, 0, 7, 3, 0, 3, 7, 3);
  FillTileFromPixels(pixels.data(), 7, c, tile.data(), t, 0, 0, 0);
  EXPECT_EQ(pixels[(1 * 7 + 2) * 4 + 1], tile[1 * t.planeBytes + 1 * t.rowBytes + 2]);  // green of (2, 1)
  StoreTileToPixels(back.data(), 7, c, tile.data(), t.rowBytes, t.columnBytes, t.planeBytes, 0, 0, 0);
  EXPECT_EQ(pixels, back);
}
