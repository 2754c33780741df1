// A 20,000 x 13,000 image (260 million pixels, past the engine's old limit
// for automatic buffers) through the filter in this process: the set-up (its
// full-size working copy is reserved there and filled a row at a time as the
// filter writes), the whole Invert call in 64-row strips, and the copy that
// restores the editor's pixels after a failed job that wrote every row. Each
// against memcpy of the image's bytes (into memory already touched, and into
// memory just allocated, as a working copy is), measured in the same run.
#include <cstring>
#include <vector>

#include "bench/bench_util.h"
#include "catalogue/folder_scan.h"
#include "catalogue/plugin_catalog.h"
#include "engine/advance_state.h"
#include "engine/region_copy.h"
#include "invocation/filter_call.h"
#include "invocation/filter_setup.h"
#include "call/job_record.h"
#include "tests/support/call_scope.h"
#include "base/memory.h"

namespace {

constexpr uint32_t kWidth = 20000, kHeight = 13000;

std::wstring SamplesFolder() {
  wchar_t folder[MAX_PATH];
  PlughostProgramFolder(folder, MAX_PATH);
  return std::wstring(folder) + L"samples";
}

}  // namespace

int main() {
  const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 4;
  PluginCatalog* catalogue = ScanPluginFolder(SamplesFolder().c_str());
  PluginEntry invert{};
  for (uint32_t i = 0; catalogue != nullptr && i < catalogue->count; ++i)
    if (wcscmp(CatalogueEntry(catalogue, i)->name, L"Invert") == 0) invert = *CatalogueEntry(catalogue, i);
  FreeBlock(catalogue);
  if (invert.name[0] == 0) return 1;

  std::vector<uint8_t> pixels(bytes, 0x5A);
  double copy = 0;
  {
    std::vector<uint8_t> other(bytes);
    copy = BestOf(3, [&] { memcpy(other.data(), pixels.data(), bytes); });
  }
  // The same copy into memory just allocated, as the set-up's working copy
  // is: the first touch of each page is part of it.
  double fresh = BestOf(2, [&] {
    void* block = AllocFixed(bytes);
    if (block != nullptr) memcpy(block, pixels.data(), bytes);
    FreeBlock(block);
  });

  JobRecord job{};
  InProcessJob(&job, kWidth, kHeight, pixels.data(), &invert);
  TileExchange tiles{};
  PublishJob(&job, &tiles);

  int madeUp = 0;
  double setUp = BestOf(2, [&] {
    madeUp = SetUpFilterRecord(TestCall());
    ReleasePixelBuffer(&tiles.working);
    ReleasePixelBuffer(&tiles.editor);
  });
  int filtered = 0;
  PublishJob(nullptr);
  double call = BestOf(4, [&] { filtered = RunFilterCall(&job, &invert); });
  PublishJob(&job, &tiles);
  // The restore after a failed job: the working copy over the editor's pixels.
  int restored = 0;
  double restore = 1e30;
  if (SetUpFilterRecord(TestCall())) {
    restore = BestOf(2, [&] {
      restored = CopyRegion(&tiles.editor, 0, 0, kWidth - 1, kHeight - 1, &tiles.working, 0, 0, kWidth - 1,
                            kHeight - 1, 0);
    });
    ReleasePixelBuffer(&tiles.working);
    ReleasePixelBuffer(&tiles.editor);
  }
  if (!madeUp || !filtered || !restored) return 1;

  Figure("large_memcpy_image", copy * 1e3, "ms");
  Figure("large_memcpy_into_fresh_memory", fresh * 1e3, "ms");
  Figure("large_set_up", setUp * 1e3, "ms");
  Figure("large_set_up_vs_memcpy", setUp / copy, "x");
  Figure("large_set_up_vs_fresh_memcpy", setUp / fresh, "x");
  Figure("large_invert_call", call * 1e3, "ms");
  Figure("large_invert_call_vs_memcpy", call / copy, "x");
  Figure("large_restore_copy", restore * 1e3, "ms");
  Figure("large_restore_copy_vs_memcpy", restore / copy, "x");
  return 0;
}
