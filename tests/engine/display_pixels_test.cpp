#include "engine/display_pixels.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "engine/runtime.h"
#include "gtest/gtest.h"
#include "sdk/pixel_map.h"

static const uint32_t kBackground = 0x00A0B0C0;

// The plug-in's window stands in as a memory DC holding a 32-bit DIB, read
// back with GetDIBits.
struct TargetDc {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  int width, height;
  TargetDc(int w, int h) : width(w), height(h) {
    dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info = Info();
    void* bits = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    previous = SelectObject(dc, bitmap);
    for (int i = 0; i < w * h; ++i) static_cast<uint32_t*>(bits)[i] = kBackground;
  }
  ~TargetDc() {
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  BITMAPINFO Info() const {
    BITMAPINFO info;
    memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
  }
  // Pixels as 0x00RRGGBB; the fourth byte is not compared (GDI may drop it).
  std::vector<uint32_t> Read() {
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    BITMAPINFO info = Info();
    SelectObject(dc, previous);  // GetDIBits wants the bitmap out of the DC
    int rows = GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    SelectObject(dc, bitmap);
    EXPECT_EQ(height, rows);
    for (uint32_t& p : pixels) p &= 0x00FFFFFF;
    return pixels;
  }
};

static PSPixelMap MakeMap(int32_t mode, int32_t width, int32_t height, int32_t rowBytes, int32_t colBytes,
                          int32_t planeBytes, void* base) {
  PSPixelMap map;
  memset(&map, 0, sizeof(map));
  map.bounds = VRect{0, 0, height, width};
  map.imageMode = mode;
  map.rowBytes = rowBytes;
  map.colBytes = colBytes;
  map.planeBytes = planeBytes;
  map.baseAddr = base;
  return map;
}

TEST(DisplayPixels, InterleavedRgbDrawsTheRequestedRectangle) {
  const int W = 200, H = 100;
  std::vector<uint8_t> image(W * H * 4);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint8_t* p = &image[(y * W + x) * 4];
      p[0] = static_cast<uint8_t>(x);  // red
      p[1] = static_cast<uint8_t>(y);  // green
      p[2] = 0x77;                     // blue
      p[3] = 0;
    }
  PSPixelMap map = MakeMap(3, W, H, W * 4, 4, 1, image.data());
  VRect rect{10, 20, 30, 50};  // top, left, bottom, right
  TargetDc target(64, 48);
  ASSERT_EQ(0, DisplayPixels(&map, &rect, 7, 5, target.dc));
  std::vector<uint32_t> got = target.Read();
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      bool inside = x >= 5 && x < 35 && y >= 7 && y < 27;
      uint32_t expected = inside ? (static_cast<uint32_t>(x - 5 + 20) << 16) | (static_cast<uint32_t>(y - 7 + 10) << 8) | 0x77
                                 : kBackground;
      ASSERT_EQ(expected, got[y * 64 + x]) << x << "," << y;
    }
}

TEST(DisplayPixels, GreyDrawsNeutralLevels) {
  uint8_t grey[3 * 2] = {0, 50, 100, 150, 200, 255};
  PSPixelMap map = MakeMap(1, 3, 2, 3, 1, 0, grey);
  VRect rect{0, 0, 2, 3};
  TargetDc target(4, 3);
  ASSERT_EQ(0, DisplayPixels(&map, &rect, 0, 0, target.dc));
  std::vector<uint32_t> got = target.Read();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(0x010101u * grey[i], got[(i / 3) * 4 + i % 3]) << "pixel " << i;
  EXPECT_EQ(kBackground, got[3]);
}

TEST(DisplayPixels, PlanarRgbReadsThreePlanes) {
  const int W = 4, H = 2;
  uint8_t planes[3][H][W];
  for (int k = 0; k < 3; ++k)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) planes[k][y][x] = static_cast<uint8_t>(k * 80 + y * 10 + x);
  PSPixelMap map = MakeMap(3, W, H, W, 1, W * H, planes);
  VRect rect{0, 0, H, W};
  TargetDc target(W, H);
  ASSERT_EQ(0, DisplayPixels(&map, &rect, 0, 0, target.dc));
  std::vector<uint32_t> got = target.Read();
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint32_t expected = (uint32_t{planes[0][y][x]} << 16) | (uint32_t{planes[1][y][x]} << 8) | planes[2][y][x];
      EXPECT_EQ(expected, got[y * W + x]) << x << "," << y;
    }
}

TEST(DisplayPixels, ThreeByteInterleavedRgbSwapsRedAndBlue) {
  uint8_t rgb[2 * 3] = {1, 2, 3, 4, 5, 6};
  PSPixelMap map = MakeMap(3, 2, 1, 6, 3, 1, rgb);
  VRect rect{0, 0, 1, 2};
  TargetDc target(2, 1);
  ASSERT_EQ(0, DisplayPixels(&map, &rect, 0, 0, target.dc));
  std::vector<uint32_t> got = target.Read();
  EXPECT_EQ(0x010203u, got[0]);
  EXPECT_EQ(0x040506u, got[1]);
}

TEST(DisplayPixels, UnsupportedModesAndLayoutsDrawBlack) {
  uint8_t cmyk[4 * 4 * 4];
  memset(cmyk, 0x99, sizeof(cmyk));
  struct Case {
    int32_t mode, colBytes, planeBytes;
  } cases[] = {{4, 4, 1}, {9, 4, 1}, {3, 4, 2}, {3, 4, 0}};
  for (const Case& c : cases) {
    PSPixelMap map = MakeMap(c.mode, 4, 4, 16, c.colBytes, c.planeBytes, cmyk);
    VRect rect{1, 1, 3, 4};
    TargetDc target(5, 5);
    ASSERT_EQ(0, DisplayPixels(&map, &rect, 0, 0, target.dc)) << "mode " << c.mode;
    std::vector<uint32_t> got = target.Read();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 5; ++x)
        ASSERT_EQ(x < 3 && y < 2 ? 0u : kBackground, got[y * 5 + x]) << "mode " << c.mode << " at " << x << "," << y;
  }
}

TEST(DisplayPixels, BadArgumentsRefusedEmptyRectangleDrawsNothing) {
  uint8_t pixels[16] = {};
  PSPixelMap map = MakeMap(3, 2, 2, 8, 4, 1, pixels);
  VRect rect{0, 0, 2, 2};
  TargetDc target(2, 2);
  EXPECT_EQ(filterBadParameters, DisplayPixels(nullptr, &rect, 0, 0, target.dc));
  EXPECT_EQ(filterBadParameters, DisplayPixels(&map, nullptr, 0, 0, target.dc));
  EXPECT_EQ(filterBadParameters, DisplayPixels(&map, &rect, 0, 0, nullptr));
  PSPixelMap bad = map;
  bad.rowBytes = 0;
  EXPECT_EQ(filterBadParameters, DisplayPixels(&bad, &rect, 0, 0, target.dc));
  bad = map;
  bad.baseAddr = nullptr;
  EXPECT_EQ(filterBadParameters, DisplayPixels(&bad, &rect, 0, 0, target.dc));
  VRect empty{0, 1, 2, 1};
  EXPECT_EQ(0, DisplayPixels(&map, &empty, 0, 0, target.dc));
  EXPECT_EQ(kBackground, target.Read()[0]);
}

TEST(DisplayPixels, UnreadableMapIsRefusedNotFatal) {
  void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
  ASSERT_NE(nullptr, page);
  PSPixelMap map = MakeMap(3, 4, 4, 16, 4, 1, page);
  VRect rect{0, 0, 4, 4};
  TargetDc target(4, 4);
  EXPECT_EQ(filterBadParameters, DisplayPixels(&map, &rect, 0, 0, target.dc));
  EXPECT_EQ(kBackground, target.Read()[0]) << "nothing drawn from a map that could not be read";
  EXPECT_EQ(filterBadParameters, DisplayPixels(static_cast<PSPixelMap*>(page), &rect, 0, 0, target.dc));
  VirtualFree(page, 0, MEM_RELEASE);
}

TEST(DisplayPixels, MapWiderThanTheLargestBufferConvertsOnlyWhatFits) {
  // 70,000 columns make a reduced display buffer of 65,536: converting the
  // whole row into it would run past its end.
  const int W = 70000;
  std::vector<uint8_t> row(static_cast<size_t>(W) * 4, 0x40);
  PSPixelMap map = MakeMap(3, W, 1, W * 4, 4, 1, row.data());
  VRect rect{0, 0, 1, 3};
  TargetDc target(3, 1);
  ASSERT_EQ(0, DisplayPixels(&map, &rect, 0, 0, target.dc));
  EXPECT_EQ(0x404040u, target.Read()[0]);
}
