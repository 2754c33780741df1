#include "engine/display_pixels.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "gtest/gtest.h"
#include "sdk/pixel_map.h"
#include "tests/support/caller.h"

static const uint32_t kBackground = 0x00A0B0C0;

// The plug-in's window: a memory DC holding a 32-bit DIB, read back with GetDIBits.
struct TargetDc {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap;
  HGDIOBJ previous;
  BITMAPINFO info{};
  TargetDc(int w, int h) {
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
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
  // 0x00RRGGBB per pixel; the fourth byte is not compared.
  std::vector<uint32_t> Read(CallerLine caller = CallerLine::current()) {
    TRACE_CALLER(caller);
    std::vector<uint32_t> pixels(static_cast<size_t>(info.bmiHeader.biWidth) * -info.bmiHeader.biHeight);
    GdiFlush();
    SelectObject(dc, previous);  // GetDIBits wants the bitmap out of any DC
    EXPECT_EQ(-info.bmiHeader.biHeight, GetDIBits(dc, bitmap, 0, -info.bmiHeader.biHeight, pixels.data(), &info, DIB_RGB_COLORS));
    SelectObject(dc, bitmap);
    for (uint32_t& p : pixels) p &= 0x00FFFFFF;
    return pixels;
  }
};

static PSPixelMap Map(int32_t mode, int32_t w, int32_t h, int32_t rowBytes, int32_t colBytes, int32_t planeBytes, void* base) {
  PSPixelMap map;
  memset(&map, 0, sizeof(map));
  map.bounds = VRect{0, 0, h, w};
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
  for (int i = 0; i < W * H; ++i) {
    image[i * 4 + 0] = static_cast<uint8_t>(i % W);  // red: the column
    image[i * 4 + 1] = static_cast<uint8_t>(i / W);  // green: the row
    image[i * 4 + 2] = 0x77;
  }
  PSPixelMap map = Map(3, W, H, W * 4, 4, 1, image.data());
  VRect rect{10, 20, 30, 50};  // top, left, bottom, right
  TargetDc target(64, 48);
  ASSERT_EQ(0, DisplayPixels(&map, &rect, 7, 5, target.dc));
  std::vector<uint32_t> got = target.Read();
  for (uint32_t y = 0; y < 48; ++y)
    for (uint32_t x = 0; x < 64; ++x) {
      bool inside = x >= 5 && x < 35 && y >= 7 && y < 27;
      ASSERT_EQ(inside ? ((x - 5 + 20) << 16) | ((y - 7 + 10) << 8) | 0x77 : kBackground, got[y * 64 + x]) << x << "," << y;
    }
}

TEST(DisplayPixels, EachModeAndLayoutConverts) {
  uint8_t bytes[24];
  for (int i = 0; i < 24; ++i) bytes[i] = static_cast<uint8_t>(10 * i + 1);
  struct Case {
    const char* what;
    int32_t mode, rowBytes, colBytes, planeBytes;
    uint32_t first, second;  // map pixels (0, 0) and (1, 0) as drawn
  } cases[] = {
      {"grey", 1, 2, 1, 0, 0x010101, 0x0B0B0B},
      {"rgb planar", 3, 2, 1, 4, 0x012951, 0x0B335B},
      {"rgb three bytes", 3, 6, 3, 1, 0x010B15, 0x1F2933},
      {"cmyk", 4, 8, 4, 1, 0, 0},
      {"lab", 9, 8, 4, 1, 0, 0},
      {"rgb, two-byte planes", 3, 8, 4, 2, 0, 0},
  };
  for (const Case& c : cases) {
    PSPixelMap map = Map(c.mode, 2, 2, c.rowBytes, c.colBytes, c.planeBytes, bytes);
    VRect rect{0, 0, 1, 2};
    TargetDc target(3, 1);
    ASSERT_EQ(0, DisplayPixels(&map, &rect, 0, 0, target.dc)) << c.what;
    std::vector<uint32_t> got = target.Read();
    EXPECT_EQ(c.first, got[0]) << c.what;
    EXPECT_EQ(c.second, got[1]) << c.what;
    EXPECT_EQ(kBackground, got[2]) << c.what;
  }
}

TEST(DisplayPixels, UnreadableOrOversizedMapsAreHandledSafely) {
  void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
  PSPixelMap map = Map(3, 4, 4, 16, 4, 1, page);
  VRect rect{0, 0, 4, 4};
  TargetDc target(4, 4);
  EXPECT_EQ(filterBadParameters, DisplayPixels(&map, &rect, 0, 0, target.dc));
  EXPECT_EQ(filterBadParameters, DisplayPixels(static_cast<PSPixelMap*>(page), &rect, 0, 0, target.dc));
  EXPECT_EQ(kBackground, target.Read()[0]) << "nothing drawn from a map that could not be read";
  VirtualFree(page, 0, MEM_RELEASE);
  // 70,000 columns get a display buffer reduced to 65,536: converting the
  // whole row into it would run past its end.
  std::vector<uint8_t> row(70000 * 4, 0x40);
  PSPixelMap wide = Map(3, 70000, 1, 70000 * 4, 4, 1, row.data());
  EXPECT_EQ(0, DisplayPixels(&wide, &rect, 0, 0, target.dc));
  EXPECT_EQ(0x404040u, target.Read()[0]);
}
