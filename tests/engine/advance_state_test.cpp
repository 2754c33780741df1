// advanceState and the channel ports in-process, on a record of our own.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/advance_state.h"
#include "engine/channel_ports.h"
#include "engine/region_copy.h"
#include "engine/working_copy.h"
#include "gtest/gtest.h"
#include "sdk/filter_record.h"
#include "call/job_record.h"
#include "tests/support/call_scope.h"

namespace {

// The tiles of the call each test publishes.
TileExchange gTiles;

// One filter's worth of state: an editor image, its working copy, a record.
struct TileBench {
  alignas(8) uint8_t recordBlock[1024] = {};
  alignas(8) uint8_t shadowBlock[1024] = {};
  BigDocumentStruct big{};
  JobRecord job{};
  std::vector<uint8_t> editor;  // the editor's pixels
  uint32_t width, height;
  FilterRecord* fr = reinterpret_cast<FilterRecord*>(recordBlock);

  // rowByRow: the working copy made as rows are first written, as a Filter
  // call makes it; otherwise whole at the start.
  TileBench(uint32_t w, uint32_t h, bool rowByRow = false) : width(w), height(h) {
    editor.resize(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < editor.size(); ++i) editor[i] = static_cast<uint8_t>(i * 31 + 7);
    job.self = &job;
    job.width = w;
    job.height = h;
    job.rowPixels = w;
    job.pixels = editor.data();
    job.ImageAccessBegin = ImageAccessBegin;
    job.ImageAccessEnd = ImageAccessEnd;
    job.ImageAccessCheck = ImageAccessCheck;
    PublishJob(&job, &gTiles);
    ResetTileExchange(&gTiles, fr, reinterpret_cast<FilterRecord*>(shadowBlock), sizeof(recordBlock));
    AttachPixelMemory(&gTiles.editor, w, h, w, editor.data());
    CreatePixelBuffer(&gTiles.working, w, h, PB_STORAGE_EXACT);
    if (rowByRow) BeginWorkingCopy(&gTiles);
    else CopyRegion(&gTiles.working, 0, 0, w - 1, h - 1, &gTiles.editor, 0, 0, w - 1, h - 1, 0);
    fr->depth = 8;
    fr->wantLayout = 1;
    fr->supportsPadding = 1;
    fr->inputRate = 0x10000;
    fr->inHiPlane = fr->outHiPlane = 3;
    big.imageSize32 = VPoint{static_cast<int32_t>(h), static_cast<int32_t>(w)};
    fr->bigDocumentData = &big;
  }
  ~TileBench() {
    EndWorkingCopy(&gTiles);
    FreeTileBlocks(&gTiles);
    ReleasePixelBuffer(&gTiles.working);
    ReleasePixelBuffer(&gTiles.editor);
    PublishJob(nullptr);
  }
  const uint8_t* Pixel(uint32_t x, uint32_t y) const { return &editor[(static_cast<size_t>(y) * width + x) * 4]; }
  // Plane p of pixel (x, y) as a tile holds it: red, green, blue, transparency.
  uint8_t Sample(uint32_t x, uint32_t y, int p) const {
    static const int kByte[4] = {2, 1, 0, 3};
    uint8_t v = Pixel(x, y)[kByte[p]];
    return p == 3 ? static_cast<uint8_t>(255 - v) : v;
  }
  const uint8_t* In() const { return static_cast<const uint8_t*>(fr->inData); }
  uint8_t* Out() const { return static_cast<uint8_t*>(fr->outData); }
};

}  // namespace

TEST(AdvanceState, RectangleReachingOutsideTheImage) {
  // The tile starts at the rectangle's own corner, and what lies outside the
  // image follows the padding asked for.
  constexpr uint8_t kLeft = 0xAB;  // what the block held before the call
  struct Case {
    const char* what;
    Rect rect;
    int16_t padding;
    uint8_t supportsPadding;
    OSErr expected;
  } cases[] = {
      {"fill value", {-1, -2, 5, 8}, 0x77, 1, noErr},
      {"fill with 0", {-1, -2, 5, 8}, 0, 1, noErr},
      {"edge replication", {-1, -2, 5, 8}, -1, 1, noErr},
      {"no padding", {-1, -2, 5, 8}, -2, 1, noErr},
      {"error on bounds", {-1, -2, 5, 8}, -3, 1, filterBadParameters},
      {"error on bounds, inside the image", {0, 1, 4, 6}, -3, 1, noErr},
      {"padding not supported: the default fill", {-1, -2, 5, 8}, 0x77, 0, noErr},
      {"wholly outside, edge replication", {6, 7, 8, 9}, -1, 1, noErr},
  };
  for (const Case& c : cases) {
    TileBench b(6, 4);
    b.fr->inRect = c.rect;
    b.fr->inputPadding = -2;
    ASSERT_EQ(noErr, AdvanceState()) << c.what;
    const int w = c.rect.right - c.rect.left, h = c.rect.bottom - c.rect.top;
    ASSERT_EQ(w * 4, b.fr->inRowBytes) << c.what;
    uint8_t* tile = static_cast<uint8_t*>(b.fr->inData);
    memset(tile, kLeft, static_cast<size_t>(w) * h * 4);
    b.fr->inputPadding = c.padding;
    b.fr->supportsPadding = c.supportsPadding;
    ASSERT_EQ(c.expected, AdvanceState()) << c.what;
    EXPECT_EQ(tile, b.fr->inData) << c.what;
    for (int ty = 0; ty < h; ++ty)
      for (int tx = 0; tx < w; ++tx)
        for (int p = 0; p < 4; ++p) {
          const int x = tx + c.rect.left, y = ty + c.rect.top;
          const bool inImage = x >= 0 && x < 6 && y >= 0 && y < 4;
          int expected = inImage ? b.Sample(x, y, p) : kLeft;
          if (c.expected != noErr) expected = kLeft;  // a refused call changes nothing
          else if (!inImage && c.supportsPadding == 0) expected = 0;
          else if (!inImage && c.padding >= 0) expected = c.padding;
          else if (!inImage && c.padding == -1) expected = b.Sample(std::clamp(x, 0, 5), std::clamp(y, 0, 3), p);
          ASSERT_EQ(expected, tile[ty * w * 4 + tx * 4 + p])
              << c.what << ": tile (" << tx << ", " << ty << ") plane " << p;
        }
  }
}

TEST(AdvanceState, OutTileReachingOutsideIsPaddedAndOnlyItsImagePartWrittenBack) {
  TileBench b(6, 4);
  b.fr->outRect = Rect{-1, -2, 5, 8};  // 10 x 6: image pixel (0, 0) at tile (2, 1)
  b.fr->outputPadding = -1;
  ASSERT_EQ(noErr, AdvanceState());
  ASSERT_NE(nullptr, b.Out());
  EXPECT_EQ(b.Sample(0, 0, 0), b.Out()[0]) << "the corner repeats the nearest pixel";
  EXPECT_EQ(b.Sample(5, 3, 1), b.Out()[5 * 40 + 9 * 4 + 1]);
  EXPECT_EQ(b.Sample(2, 1, 2), b.Out()[2 * 40 + 4 * 4 + 2]);
  // The plug-in's output: red names the tile position.
  for (int ty = 0; ty < 6; ++ty)
    for (int tx = 0; tx < 10; ++tx) b.Out()[ty * 40 + tx * 4] = static_cast<uint8_t>(tx * 16 + ty);
  std::vector<uint8_t> before = b.editor;
  b.fr->outputPadding = -3;  // refused: the waiting tile stays waiting
  EXPECT_EQ(filterBadParameters, AdvanceState());
  EXPECT_EQ(before, b.editor);
  b.fr->outputPadding = 0;
  b.fr->outRect = Rect{0, 0, 0, 0};
  ASSERT_EQ(noErr, AdvanceState());
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 6; ++x) {
      ASSERT_EQ((x + 2) * 16 + (y + 1), b.Pixel(x, y)[2]) << "red of " << x << "," << y;
      ASSERT_EQ(before[(y * 6 + x) * 4 + 1], b.Pixel(x, y)[1]) << "green of " << x << "," << y;
    }
}

TEST(AdvanceState, ImageWiderThanTheSixteenBitFieldsNeedsThirtyTwoBitCoordinates) {
  TileBench b(70000, 10);
  std::vector<uint8_t> before = b.editor;
  b.fr->inRect = b.fr->outRect = Rect{0, 0, 10, 100};
  EXPECT_EQ(filterBadParameters, AdvanceState());
  EXPECT_EQ(PLUGIN_NEEDS_32BIT_COORDINATES, gTiles.refusal);
  EXPECT_EQ(nullptr, b.fr->inData) << "expected nothing handed out";
  EXPECT_EQ(nullptr, b.fr->outData);
  // With the 32-bit rectangles: exact pixels at the far end, and back.
  gTiles.refusal = 0;
  b.big.PluginUsing32BitCoordinates = 1;
  b.big.inRect32 = b.big.outRect32 = VRect{2, 69990, 10, 70000};
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(0, gTiles.refusal);
  ASSERT_NE(nullptr, b.fr->inData);
  EXPECT_EQ(40, b.fr->inRowBytes);
  EXPECT_EQ(b.Sample(69995, 7, 0), b.In()[5 * 40 + 5 * 4]);
  EXPECT_EQ(b.Sample(69999, 9, 3), b.In()[7 * 40 + 9 * 4 + 3]);
  const uint8_t inverted = static_cast<uint8_t>(255 - b.Sample(69995, 7, 0));
  b.Out()[5 * 40 + 5 * 4] = inverted;
  b.big.inRect32 = b.big.outRect32 = VRect{0, 0, 0, 0};
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(inverted, b.Pixel(69995, 7)[2]);
  before[(7 * size_t{70000} + 69995) * 4 + 2] = inverted;
  EXPECT_TRUE(before == b.editor) << "expected one byte changed";
}

TEST(AdvanceState, SwappedRectangleIsNormalisedInTheRecord) {
  TileBench b(20, 10);
  b.fr->inRect = Rect{8, 15, 2, 5};  // top > bottom, left > right
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(2, b.fr->inRect.top);
  EXPECT_EQ(5, b.fr->inRect.left);
  EXPECT_EQ(8, b.fr->inRect.bottom);
  EXPECT_EQ(15, b.fr->inRect.right);
  EXPECT_EQ(b.Pixel(5, 2)[2], b.In()[0]);
  EXPECT_EQ(2, b.big.inRect32.top);  // the 32-bit twin follows
}

TEST(AdvanceState, PlaneRangeIsClampedForTheFillNotTheLayout) {
  TileBench b(4, 4);
  b.fr->inRect = Rect{0, 0, 1, 1};
  b.fr->inLoPlane = -1;
  b.fr->inHiPlane = 5;
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(7, b.fr->inColumnBytes);
  // Planes 0..3 fill from the start of the tile.
  EXPECT_EQ(b.Pixel(0, 0)[2], b.In()[0]);
  EXPECT_EQ(255 - b.Pixel(0, 0)[3], b.In()[3]);
}

TEST(AdvanceState, EmptyRectanglesGiveNullTilesAndFreeTheBlocks) {
  TileBench b(8, 8);
  b.fr->inRect = Rect{0, 0, 8, 8};
  b.fr->outRect = Rect{0, 0, 8, 8};
  ASSERT_EQ(noErr, AdvanceState());
  ASSERT_NE(nullptr, b.fr->outData);
  memset(b.Out(), 0, 8 * 8 * 4);  // the plug-in's output: all zero samples
  b.fr->inRect = Rect{0, 0, 0, 0};
  b.fr->outRect = Rect{3, 3, 3, 9};
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(nullptr, b.fr->inData);
  EXPECT_EQ(nullptr, b.fr->outData);
  EXPECT_EQ(nullptr, gTiles.inBlock);
  EXPECT_EQ(nullptr, gTiles.outBlock);
  // The previous out tile was written back on the way: red 0, alpha 255 - 0.
  EXPECT_EQ(0, b.Pixel(7, 7)[2]);
  EXPECT_EQ(255, b.Pixel(7, 7)[3]);
}

TEST(AdvanceState, OutTileReachesTheImageOnlyAtTheNextCall) {
  TileBench b(6, 3);
  b.fr->outRect = Rect{0, 0, 3, 6};
  ASSERT_EQ(noErr, AdvanceState());
  const uint8_t before = b.Pixel(2, 1)[1];
  b.Out()[1 * b.fr->outRowBytes + 2 * 4 + 1] = static_cast<uint8_t>(before + 1);  // green of (2, 1)
  EXPECT_EQ(before, b.Pixel(2, 1)[1]);
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(static_cast<uint8_t>(before + 1), b.Pixel(2, 1)[1]);
  // The new out tile shows what is now in the image.
  EXPECT_EQ(static_cast<uint8_t>(before + 1), b.Out()[1 * b.fr->outRowBytes + 2 * 4 + 1]);
}

TEST(AdvanceState, AnOutTileOverTheInTileShowsWhatWentBackSinceTheCallBegan) {
  // The same rectangle in and out, as strip filters ask: the out tile holds
  // the image as it now is, the in tile the image as it was, whether the
  // working copy was made whole or row by row; a restore brings it all back.
  for (bool rowByRow : {false, true}) {
    SCOPED_TRACE(rowByRow ? "row by row" : "whole");
    TileBench b(6, 4, rowByRow);
    const std::vector<uint8_t> original = b.editor;
    const Rect top{0, 0, 2, 6}, bottom{2, 0, 4, 6};
    auto ask = [&](Rect r) {
      b.fr->inRect = b.fr->outRect = r;
      return AdvanceState();
    };
    auto outSample = [&](uint32_t x, uint32_t y, int p) {
      return b.Out()[(y - b.fr->outRect.top) * b.fr->outRowBytes + x * 4 + p];
    };
    ASSERT_EQ(noErr, ask(top));
    EXPECT_EQ(0, memcmp(b.In(), b.Out(), 2 * 6 * 4)) << "untouched pixels: the out tile is the in tile";
    EXPECT_EQ(b.Sample(5, 1, 0), outSample(5, 1, 0));
    b.Out()[1 * b.fr->outRowBytes + 5 * 4] ^= 0xFF;  // red of (5, 1)
    ASSERT_EQ(noErr, ask(top));                       // the same strip again, after that went back
    EXPECT_EQ(static_cast<uint8_t>(~b.Sample(5, 1, 0)), b.In()[1 * b.fr->inRowBytes + 5 * 4]) << "in: as it was";
    EXPECT_EQ(b.Sample(5, 1, 0), outSample(5, 1, 0)) << "out: as it is";
    EXPECT_EQ(original[(1 * 6 + 5) * 4 + 2] ^ 0xFF, b.Pixel(5, 1)[2]);

    // A write through a channel port counts as well.
    uint8_t plane[12];
    memset(plane, 0x11, sizeof(plane));
    PixelMemoryDesc desc{plane, 6 * 8, 8, 0, 8};
    VRect rect{2, 0, 4, 6};
    ASSERT_EQ(noErr, WriteBaseChannelPixels(reinterpret_cast<PIChannelPort>(1), &rect, &desc));
    ASSERT_EQ(noErr, ask(bottom));
    EXPECT_EQ(0x11, outSample(3, 3, 0));
    EXPECT_EQ(original[(3 * 6 + 3) * 4 + 2], b.In()[1 * b.fr->inRowBytes + 3 * 4]);
    // A tile wholly above the image is padded from the first row as it was.
    VRect first{0, 0, 1, 6};
    ASSERT_EQ(noErr, WriteBaseChannelPixels(reinterpret_cast<PIChannelPort>(1), &first, &desc));
    b.fr->inputPadding = -1;  // the edge pixels repeated
    b.fr->inRect = Rect{-3, 0, -1, 6};
    b.fr->outRect = Rect{0, 0, 0, 0};
    ASSERT_EQ(noErr, AdvanceState());
    EXPECT_EQ(original[(0 * 6 + 3) * 4 + 2], b.In()[1 * b.fr->inRowBytes + 3 * 4]);
    RestoreOriginalRows(&gTiles);
    EXPECT_EQ(original, b.editor);
  }
}

TEST(AdvanceState, PlanarLayoutStrides) {
  TileBench b(10, 4);
  b.fr->wantLayout = 5;
  b.fr->inRect = Rect{0, 0, 4, 10};
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(1, b.fr->inColumnBytes);
  EXPECT_EQ(10, b.fr->inRowBytes);
  EXPECT_EQ(40, b.fr->inPlaneBytes);
  EXPECT_EQ(b.Pixel(3, 2)[0], b.In()[2 * 40 + 2 * 10 + 3]);  // blue plane
}

TEST(AdvanceState, RefusedLayoutChangesNothing) {
  TileBench b(4, 4);
  b.fr->inRect = Rect{0, 0, 4, 4};
  ASSERT_EQ(noErr, AdvanceState());
  void* inData = b.fr->inData;
  int32_t rowBytes = b.fr->inRowBytes;
  b.fr->wantLayout = 3;
  EXPECT_EQ(paramErr, AdvanceState());
  EXPECT_EQ(inData, b.fr->inData);
  EXPECT_EQ(rowBytes, b.fr->inRowBytes);
}

TEST(AdvanceState, InputRateTwoGivesTheHalfSizeImage) {
  TileBench b(8, 6);
  b.fr->inputRate = 0x20000;
  b.fr->inRect = Rect{0, 0, 3, 4};
  ASSERT_EQ(noErr, AdvanceState());
  // Each tile pixel is the truncated average of a 2 × 2 block.
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      int sum = b.Pixel(2 * x, 2 * y)[2] + b.Pixel(2 * x + 1, 2 * y)[2] + b.Pixel(2 * x, 2 * y + 1)[2] +
                b.Pixel(2 * x + 1, 2 * y + 1)[2];
      bool uniform = b.Pixel(2 * x, 2 * y)[2] == b.Pixel(2 * x + 1, 2 * y + 1)[2];
      if (!uniform) {
        EXPECT_EQ(sum >> 2, b.In()[y * b.fr->inRowBytes + x * 4]) << x << "," << y;
      }
    }
}

TEST(AdvanceState, ThirtyTwoBitCoordinatesAreCopiedIntoTheRecord) {
  TileBench b(40, 40);
  b.big.PluginUsing32BitCoordinates = 1;
  b.big.inRect32 = VRect{1, 2, 3, 4};
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(1, b.fr->inRect.top);
  EXPECT_EQ(4, b.fr->inRect.right);
  EXPECT_EQ(b.Pixel(2, 1)[2], b.In()[0]);
}

TEST(AdvanceState, TileBlocksAreReusedWithinTheSlack) {
  TileBench b(1000, 250);
  b.fr->inRect = Rect{0, 0, 250, 1000};  // 1,000,000 bytes
  ASSERT_EQ(noErr, AdvanceState());
  uint8_t* first = gTiles.inBlock;
  EXPECT_EQ(1179648u, gTiles.inBlockSize);
  b.fr->inRect = Rect{0, 0, 175, 1000};  // 700,000: reused
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(first, gTiles.inBlock);
  b.fr->inRect = Rect{0, 0, 100, 1000};  // 400,000: replaced
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(458752u, gTiles.inBlockSize);
}

TEST(AdvanceState, BlocksGivenUpServeTheNextRequestOfTheirSize) {
  TileBench b(1000, 250);
  b.fr->inRect = Rect{0, 0, 250, 1000};
  ASSERT_EQ(noErr, AdvanceState());
  uint8_t* whole = gTiles.inBlock;
  b.fr->inRect = Rect{0, 0, 10, 1000};  // a strip: the whole-image block is given up
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_NE(whole, gTiles.inBlock);
  FreeTileBlocks(&gTiles);  // the end of a call
  b.fr->inRect = Rect{0, 0, 250, 1000};  // the next call's first tile
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(whole, gTiles.inBlock);
  FreeTileBlocks(&gTiles);
  ReleaseTileBlockPool();
  const uint64_t before = AllocationCount();
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(before + 1, AllocationCount()) << "an emptied pool serves nothing";
}

TEST(AdvanceState, PadValueIsRememberedForTheBlockSize) {
  TileBench b(100, 100);
  b.fr->inRect = Rect{0, 0, 100, 100};
  b.fr->inputPadding = 255;
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(gTiles.inputPad, 255);
  b.fr->inputPadding = -1;  // edge replication asked: the last value stays
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(gTiles.inputPad, 255);
  b.fr->supportsPadding = 0;
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(0, gTiles.inputPad);
  EXPECT_EQ(0, b.fr->inputPadding);
}

TEST(ChannelPorts, ReadsThroughTheResamplerAndComplementsTransparency) {
  TileBench b(4, 4);
  // Fourth byte 10 everywhere in the working copy.
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x)
      reinterpret_cast<uint8_t*>(gTiles.working.pixels)[(y * gTiles.working.pitch + x) * 4 + 3] = 10;
  PSScaling scaling{VRect{0, 4, 4, 0}, VRect{0, 0, 4, 4}};  // source given right-to-left
  uint8_t plane[16] = {};
  PixelMemoryDesc desc{plane, 4 * 8, 8, 0, 8};
  VRect write{0, 0, 4, 4}, wrote{};
  ASSERT_EQ(noErr, ReadChannelPixels(reinterpret_cast<PIChannelPort>(4), &scaling, &write, &desc, &wrote));
  for (uint8_t v : plane) EXPECT_EQ(245, v);
  EXPECT_EQ(4, wrote.right);
  ASSERT_EQ(noErr, ReadChannelPixels(reinterpret_cast<PIChannelPort>(1), &scaling, &write, &desc, nullptr));
  EXPECT_EQ(b.Pixel(3, 2)[2], plane[2 * 4 + 3]);
}

TEST(ChannelPorts, ReadingTwiceTheSizeEnlargesSmoothly) {
  TileBench b(2, 1);
  uint8_t* px = reinterpret_cast<uint8_t*>(gTiles.working.pixels);
  memset(px, 0, 4);
  memset(px + 4, 255, 4);
  PSScaling scaling{VRect{0, 0, 1, 2}, VRect{0, 0, 1, 4}};
  uint8_t plane[4] = {};
  PixelMemoryDesc desc{plane, 4 * 8, 8, 0, 8};
  ASSERT_EQ(noErr, ReadChannelPixels(reinterpret_cast<PIChannelPort>(2), &scaling, nullptr, &desc, nullptr));
  EXPECT_EQ(0, plane[0]);
  EXPECT_EQ(63, plane[1]);
  EXPECT_EQ(191, plane[2]);
  EXPECT_EQ(255, plane[3]);
}

TEST(ChannelPorts, ReadsThatCannotBeWholeAreRefusedAndWriteNothing) {
  TileBench b(4, 4);
  struct Case {
    const char* what;
    VRect source, destination;
    OSErr expected;
    bool releasing;  // the working copy has begun closing
  } cases[] = {
      {"empty destination", {0, 0, 4, 4}, {0, 0, 0, 4}, memFullErr, false},
      {"source reaching left of the image", {0, -1, 4, 4}, {0, 0, 4, 4}, paramErr, false},
      {"source reaching below the image", {0, 0, 5, 4}, {0, 0, 4, 4}, paramErr, false},
      {"empty source", {2, 2, 2, 2}, {0, 0, 4, 4}, paramErr, false},
      {"source at the lowest coordinate", {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, {0, 0, 4, 4}, paramErr, false},
      {"resample refused", {0, 0, 4, 4}, {0, 0, 2, 2}, paramErr, true},
  };
  uint8_t plane[16];
  PixelMemoryDesc desc{plane, 32, 8, 0, 8};
  for (const Case& c : cases) {
    memset(plane, 0xEE, sizeof(plane));
    PSScaling scaling{c.source, c.destination};
    VRect write{0, 0, 4, 4}, wrote{-7, -7, -7, -7};
    if (c.releasing) gTiles.working.stateFlags = PB_CLOSING;
    EXPECT_EQ(c.expected, ReadChannelPixels(reinterpret_cast<PIChannelPort>(1), &scaling, &write, &desc, &wrote))
        << c.what;
    gTiles.working.stateFlags = 0;
    for (uint8_t v : plane) ASSERT_EQ(0xEE, v) << c.what << ": expected no sample written";
    EXPECT_EQ(-7, wrote.right) << c.what << ": expected wroteRect untouched";
  }
  PSScaling scaling{VRect{0, 0, 4, 4}, VRect{0, 0, 4, 4}};
  EXPECT_EQ(paramErr, ReadChannelPixels(reinterpret_cast<PIChannelPort>(1), nullptr, nullptr, &desc, nullptr));
  EXPECT_EQ(paramErr, ReadChannelPixels(reinterpret_cast<PIChannelPort>(1), &scaling, nullptr, nullptr, nullptr));
  EXPECT_EQ(paramErr, WriteBaseChannelPixels(reinterpret_cast<PIChannelPort>(1), nullptr, &desc));
}

TEST(ChannelPorts, WritesAreClippedToTheImage) {
  TileBench b(5, 5);
  std::vector<uint8_t> before = b.editor;
  uint8_t plane[100];
  memset(plane, 0xAB, sizeof(plane));
  PixelMemoryDesc desc{plane, 10 * 8, 8, 0, 8};
  VRect rect{0, 0, 10, 10};
  ASSERT_EQ(noErr, WriteBaseChannelPixels(reinterpret_cast<PIChannelPort>(3), &rect, &desc));
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      EXPECT_EQ(0xAB, b.Pixel(x, y)[0]);
      EXPECT_EQ(before[(y * 5 + x) * 4 + 1], b.Pixel(x, y)[1]);
    }
  ASSERT_EQ(noErr, WriteBaseChannelPixels(reinterpret_cast<PIChannelPort>(4), &rect, &desc));
  EXPECT_EQ(255 - 0xAB, b.Pixel(4, 4)[3]);
  std::vector<uint8_t> now = b.editor;
  EXPECT_EQ(noErr, WriteBaseChannelPixels(reinterpret_cast<PIChannelPort>(7), &rect, &desc));
  EXPECT_EQ(now, b.editor);
  PIChannelPort read = nullptr;
  EXPECT_EQ(noErr, ReadPortForWritePort(&read, reinterpret_cast<PIChannelPort>(3)));
  EXPECT_EQ(reinterpret_cast<PIChannelPort>(3), read);
}

TEST(ChannelPorts, NormalizeRect) {
  int32_t r[4];
  EXPECT_EQ(1, NormalizeRect(r, 10, 5, 2, 8));
  EXPECT_EQ(2, r[0]);
  EXPECT_EQ(5, r[1]);
  EXPECT_EQ(10, r[2]);
  EXPECT_EQ(8, r[3]);
  EXPECT_EQ(0, NormalizeRect(nullptr, 0, 0, 1, 1));
}

TEST(AdvanceState, WaitingTileIsWrittenWhereItWasHandedOutWithThirtyTwoBitCoordinates) {
  TileBench b(8, 8);
  b.big.PluginUsing32BitCoordinates = 1;
  b.big.outRect32 = VRect{0, 0, 1, 2};  // two pixels of row 0
  ASSERT_EQ(noErr, AdvanceState());
  memset(b.Out(), 0, 2 * 4);
  std::vector<uint8_t> before = b.editor;
  b.big.outRect32 = VRect{4, 0, 8, 8};  // the plug-in moves on to a larger tile
  ASSERT_EQ(noErr, AdvanceState());
  EXPECT_EQ(0, b.Pixel(0, 0)[2]);
  EXPECT_EQ(0, b.Pixel(1, 0)[2]);
  // Nothing else of the image changed.
  for (size_t i = 8; i < before.size(); ++i) ASSERT_EQ(before[i], b.editor[i]) << "byte " << i;
}
