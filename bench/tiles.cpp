// Tile exchange on a 4096 × 4096 image: one whole-image tile, and 64-row
// strips over the whole image, as real plug-ins ask for them. Each figure
// counts the tile bytes filled plus written back.
#include <cstring>
#include <vector>

#include "bench/bench_util.h"
#include "engine/advance_state.h"
#include "engine/region_copy.h"
#include "call/plugin_records.h"
#include "sdk/filter_record.h"
#include "call/job_record.h"
#include "tests/support/call_scope.h"

namespace {

constexpr int32_t kSide = 4096;
TileExchange gTiles;  // the tiles of the benchmark's call

struct Setup {
  std::vector<uint8_t> editor = std::vector<uint8_t>(static_cast<size_t>(kSide) * kSide * 4, 0x37);
  JobRecord job{};
  BigDocumentStruct big{};
  FilterRecord* fr = PluginFilterRecord();
  Setup() {
    job.self = &job;
    job.width = job.height = job.rowPixels = kSide;
    job.pixels = editor.data();
    job.ImageAccessBegin = ImageAccessBegin;
    job.ImageAccessEnd = ImageAccessEnd;
    job.ImageAccessCheck = ImageAccessCheck;
    PublishJob(&job, &gTiles);
    ZeroFilterRecordBlock();
    ResetTileExchange(&gTiles, fr, FilterRecordShadow(), FILTER_RECORD_BLOCK_BYTES);
    AttachPixelMemory(&gTiles.editor, kSide, kSide, kSide, editor.data());
    CreatePixelBuffer(&gTiles.working, kSide, kSide, 0);
    CopyRegion(&gTiles.working, 0, 0, kSide - 1, kSide - 1, &gTiles.editor, 0, 0, kSide - 1, kSide - 1, 0);
    fr->depth = 8;
    fr->wantLayout = 1;
    fr->inputRate = 0x10000;
    fr->inHiPlane = fr->outHiPlane = 3;
    fr->bigDocumentData = &big;
  }
};

// Asks for the image in strips of `rows`, in and out, and finishes with the
// call that writes the last strip back.
void Pass(Setup& s, int rows) {
  for (int top = 0; top < kSide; top += rows) {
    int bottom = top + rows < kSide ? top + rows : kSide;
    s.fr->inRect = s.fr->outRect = Rect{static_cast<int16_t>(top), 0, static_cast<int16_t>(bottom), 0};
    // Rect fields are 16-bit: 4096 fits.
    s.fr->inRect.right = s.fr->outRect.right = static_cast<int16_t>(kSide);
    AdvanceState();
  }
  s.fr->inRect = s.fr->outRect = Rect{0, 0, 0, 0};
  AdvanceState();
}

}  // namespace

int main() {
  Setup s;
  const double bytes = static_cast<double>(kSide) * kSide * 4;
  // in tile filled, out tile filled, out tile written back
  const double moved = bytes * 3;
  std::vector<uint8_t> a(static_cast<size_t>(bytes)), b(static_cast<size_t>(bytes));
  double copy = BestOf(5, [&] {
    memcpy(b.data(), a.data(), a.size());
    memcpy(a.data(), b.data(), a.size());
    memcpy(b.data(), a.data(), a.size());
  });
  double whole = BestOf(3, [&] { Pass(s, kSide); });
  double strips = BestOf(3, [&] { Pass(s, 64); });
  Figure("tiles_memcpy_same_bytes", moved / copy / 1e6, "MB/s");
  Figure("tiles_whole_image", moved / whole / 1e6, "MB/s");
  Figure("tiles_whole_image_vs_memcpy", copy / whole, "x");
  Figure("tiles_64_row_strips", moved / strips / 1e6, "MB/s");
  Figure("tiles_64_row_strips_vs_memcpy", copy / strips, "x");
  FreeTileBlocks(&gTiles);
  return 0;
}
