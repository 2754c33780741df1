#include "engine/advance_state.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/escape_key.h"
#include "engine/resample.h"
#include "engine/tile_layout.h"
#include "engine/working_copy.h"
#include "sdk/filter_record.h"
#include "call/job_record.h"
#include "call/plugin_call.h"
#include "base/memory.h"

void ResetTileExchange(TileExchange* t, FilterRecord* record, FilterRecord* shadow, uint32_t recordBytes) {
  t->record = record;
  t->shadow = shadow;
  t->recordBytes = recordBytes;
  memset(shadow, 0, recordBytes);
  t->inputPad = 0;
  t->outputPad = 0;
  t->refusal = 0;
  t->inTileOriginal = false;
  t->written = VRect{0, 0, 0, 0};
}

void NoteEditorWrite(TileExchange* t, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (x1 <= x0 || y1 <= y0) return;
  SaveOriginalRows(t, y0, y1);
  VRect& w = t->written;
  if (w.right <= w.left || w.bottom <= w.top) {
    w = VRect{y0, x0, y1, x1};
    return;
  }
  w = VRect{std::min(w.top, y0), std::min(w.left, x0), std::max(w.bottom, y1), std::max(w.right, x1)};
}

// Tile blocks given up go to a small pool for the next request of about
// their size, in this call or the next: a fresh block costs a fault for every
// page, and a 4096² Invert gives up a whole-image in tile after its first
// advanceState and asks for the same again in the next job. Only the Filter
// call's thread uses the pool; ReleaseTileBlockPool empties it.
namespace {
struct PooledBlock {
  uint8_t* data;
  uint64_t size;
};
constexpr int kPooledBlocks = 4;
constexpr uint64_t kPooledBlockLimit = uint64_t{128} << 20;  // larger blocks go at once
PooledBlock gPool[kPooledBlocks];
}  // namespace

static void PoolBlock(uint8_t* block, uint64_t size) {
  if (block == nullptr) return;
  if (size > kPooledBlockLimit) return ::FreeBlock(block);
  ::FreeBlock(gPool[kPooledBlocks - 1].data);  // the oldest makes room
  memmove(&gPool[1], &gPool[0], sizeof(gPool[0]) * (kPooledBlocks - 1));
  gPool[0] = PooledBlock{block, size};
}

static uint8_t* TakePooledBlock(uint64_t allocationSize, uint64_t* size) {
  for (int i = 0; i < kPooledBlocks; ++i) {
    if (gPool[i].data == nullptr || !TileBlockReusable(gPool[i].size, allocationSize)) continue;
    uint8_t* block = gPool[i].data;
    *size = gPool[i].size;
    memmove(&gPool[i], &gPool[i + 1], sizeof(gPool[0]) * (kPooledBlocks - 1 - i));
    gPool[kPooledBlocks - 1] = PooledBlock{nullptr, 0};
    return block;
  }
  return nullptr;
}

void ReleaseTileBlockPool() {
  for (PooledBlock& pooled : gPool) {
    ::FreeBlock(pooled.data);
    pooled = PooledBlock{nullptr, 0};
  }
}

static void FreeBlock(uint8_t** block, uint64_t* size) {
  PoolBlock(*block, *size);
  *block = nullptr;
  *size = 0;
}

void FreeTileBlocks(TileExchange* t) {
  FreeBlock(&t->inBlock, &t->inBlockSize);
  FreeBlock(&t->outBlock, &t->outBlockSize);
}

// Makes sure *block holds at least `needed` bytes, reusing it within the slack.
static bool ProvideBlock(uint8_t** block, uint64_t* size, uint64_t needed) {
  uint64_t a = TileAllocationSize(needed);
  if (a == 0 || a > static_cast<uint64_t>(SIZE_MAX / 2)) {
    FreeBlock(block, size);
    return false;
  }
  if (*block != nullptr && TileBlockReusable(*size, a)) return true;
  FreeBlock(block, size);
  *block = TakePooledBlock(a, size);
  if (*block != nullptr) return true;
  *block = static_cast<uint8_t*>(AllocFixed(a));
  // The pool's blocks go before a request fails for want of memory.
  if (*block == nullptr && gPool[0].data != nullptr) {
    ReleaseTileBlockPool();
    *block = static_cast<uint8_t*>(AllocFixed(a));
  }
  if (*block == nullptr) return false;
  *size = a;
  return true;
}

static void Normalise(Rect* r) {
  if (r->left > r->right) std::swap(r->left, r->right);
  if (r->top > r->bottom) std::swap(r->top, r->bottom);
}

static void Normalise(VRect* r) {
  if (r->left > r->right) std::swap(r->left, r->right);
  if (r->top > r->bottom) std::swap(r->top, r->bottom);
}

static void SyncCoordinates(FilterRecord* fr) {
  BigDocumentStruct* big = fr->bigDocumentData;
  if (big == nullptr) return;
  Rect* rects16[2] = {&fr->inRect, &fr->outRect};
  VRect* rects32[2] = {&big->inRect32, &big->outRect32};
  for (int i = 0; i < 2; ++i) {
    if (big->PluginUsing32BitCoordinates != 0) {
      rects16[i]->top = static_cast<int16_t>(rects32[i]->top);
      rects16[i]->left = static_cast<int16_t>(rects32[i]->left);
      rects16[i]->bottom = static_cast<int16_t>(rects32[i]->bottom);
      rects16[i]->right = static_cast<int16_t>(rects32[i]->right);
    } else {
      rects32[i]->top = rects16[i]->top;
      rects32[i]->left = rects16[i]->left;
      rects32[i]->bottom = rects16[i]->bottom;
      rects32[i]->right = rects16[i]->right;
    }
  }
}

// The rectangle a tile is described by, in order: the 32-bit one when the
// plug-in uses those, so that images wider than 32767 pixels work. Read
// without touching the record, so that a refusal can leave it as it was.
static VRect TileRect(const FilterRecord* fr, bool input) {
  const BigDocumentStruct* big = fr->bigDocumentData;
  VRect r;
  if (big != nullptr && big->PluginUsing32BitCoordinates != 0) {
    r = input ? big->inRect32 : big->outRect32;
  } else {
    const Rect& s = input ? fr->inRect : fr->outRect;
    r = VRect{s.top, s.left, s.bottom, s.right};
  }
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  return r;
}

// The padding a plug-in asks for. The values are the published interface's:
// 0..255 fills what lies outside the image with that byte, -1 repeats the
// nearest edge pixel, -2 leaves those bytes as they are, -3 makes a
// rectangle that reaches outside an error. Without supportsPadding a plug-in
// gets the host's default, a fill with 0.
static int32_t PaddingOf(const FilterRecord* fr, bool input) {
  if (!fr->supportsPadding) return 0;
  return input ? fr->inputPadding : fr->outputPadding;
}

static bool Sampled(const FilterRecord* fr) { return fr->inputRate != 0x10000; }

// The record's 16-bit rectangles cannot reach past 32,767: on a larger image
// they would wrap, so a plug-in that does not use the 32-bit ones is refused.
static bool NeedsThirtyTwoBitCoordinates(const TileExchange* t, const FilterRecord* fr) {
  const BigDocumentStruct* big = fr->bigDocumentData;
  const bool large = t->editor.width > RECORD_16BIT_SIDE || t->editor.height > RECORD_16BIT_SIDE;
  return large && (big == nullptr || big->PluginUsing32BitCoordinates == 0);
}

// A rectangle that reaches outside its image while its padding asks for an
// error. The in tile's image is the working copy, or with a sampling rate
// the whole image scaled to the rectangle's size and read from (0, 0).
static bool OutOfBoundsRefused(const TileExchange* t, const FilterRecord* fr, const VRect& in, const VRect& out) {
  if (PaddingOf(fr, true) == TILE_PAD_ERROR) {
    const PixelBuffer& image = t->working;
    const bool empty = in.right <= in.left || in.bottom <= in.top;
    // A sampled image is as large as the rectangle: only one at (0, 0) fits.
    const bool outside = Sampled(fr) ? !empty && (in.left != 0 || in.top != 0)
                                     : TileReachesOutside(in.left, in.top, in.right, in.bottom, image.width, image.height);
    if (outside) return true;
  }
  return PaddingOf(fr, false) == TILE_PAD_ERROR &&
         TileReachesOutside(out.left, out.top, out.right, out.bottom, t->editor.width, t->editor.height);
}

static void FillInTile(TileExchange* t, FilterRecord* fr, const VRect& rect, const TileLayout& layout) {
  // The original pixels lie in the editor's rows not yet written to.
  JobRecord* job = CurrentCall()->job;
  const bool access = job != nullptr && job->ImageAccessBegin != nullptr && job->ImageAccessBegin(job);
  PixelBuffer* const original = !access ? &t->working
                                : Sampled(fr) ? BeginOriginalRows(t, 0, static_cast<int32_t>(t->working.height))
                                              : BeginOriginalRows(t, rect.top, rect.bottom);
  PixelBuffer* source = original;
  PixelBuffer scaled;
  memset(static_cast<void*>(&scaled), 0, sizeof(scaled));
  if (Sampled(fr) && layout.width > 0 && layout.height > 0 && layout.width <= INT32_MAX && layout.height <= INT32_MAX) {
    // The whole image scaled to the rectangle's size, read at the
    // rectangle's position; a scaled image that cannot be made leaves the
    // tile to the unscaled one.
    const int32_t w = static_cast<int32_t>(layout.width), h = static_cast<int32_t>(layout.height);
    if (CreatePixelBuffer(&scaled, w, h, PB_STORAGE_EXACT) &&
        ResampleRegion(&scaled, 0, 0, w - 1, h - 1, source, 0, 0, static_cast<int32_t>(source->width) - 1,
                       static_cast<int32_t>(source->height) - 1, 0) != 0)
      source = &scaled;
  }
  if (BeginPixelAccess(source, 0)) {
    TileImage image{reinterpret_cast<const uint8_t*>(source->pixels), source->pitch, source->width, source->height};
    FillTile(image, rect.left, rect.top, rect.right, rect.bottom, fr->inLoPlane, fr->inHiPlane,
             static_cast<uint8_t*>(fr->inData), layout, PaddingOf(fr, true));
    EndPixelAccess(source, 0);
    t->inTileOriginal = source != &scaled;
  }
  if (scaled.magic != 0) ReleasePixelBuffer(&scaled);
  if (access) EndOriginalRows(t, original);
  if (access && job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
}

// Only the part of the tile over the image goes back; the tile's origin is
// the rectangle's own corner, wherever that lies.
static void WriteBackWaitingTile(TileExchange* t, JobRecord* job) {
  FilterRecord* shadow = t->shadow;
  if (shadow == nullptr || shadow->outData == nullptr) return;
  PixelBuffer* editor = &t->editor;
  const VRect& rect = t->shadowOutRect;
  TileClamp area = ClampTile(rect.left, rect.top, rect.right, rect.bottom, shadow->outLoPlane, shadow->outHiPlane,
                             editor->width, editor->height);
  if (job != nullptr && job->ImageAccessBegin != nullptr && job->ImageAccessBegin(job) && editor->pixels != nullptr) {
    NoteEditorWrite(t, area.x0, area.y0, area.x1, area.y1);
    StoreTileToPixels(reinterpret_cast<uint8_t*>(editor->pixels), editor->pitch, area,
                      static_cast<const uint8_t*>(shadow->outData), shadow->outRowBytes, shadow->outColumnBytes,
                      shadow->outPlaneBytes, rect.left, rect.top, area.p0);
    if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  }
  shadow->outData = nullptr;
}

// The out tile may be a copy of the in tile just filled, without reading the
// image again, when both describe the same samples of the same pixels and
// nothing has gone back to those pixels since the call began: the common
// strip-by-strip filter reads each strip once instead of twice.
static bool OutTileIsInTile(const TileExchange* t, const FilterRecord* fr, const VRect& in, const VRect& out,
                            const TileLayout& inLayout, const TileLayout& outLayout) {
  const VRect& w = t->written;
  const bool overlaps = w.right > w.left && w.bottom > w.top && out.left < w.right && w.left < out.right &&
                        out.top < w.bottom && w.top < out.bottom;
  return t->inTileOriginal && !overlaps && !Sampled(fr) && in.left == out.left && in.top == out.top &&
         in.right == out.right && in.bottom == out.bottom && fr->inLoPlane == fr->outLoPlane &&
         fr->inHiPlane == fr->outHiPlane && inLayout.rowBytes == outLayout.rowBytes &&
         inLayout.columnBytes == outLayout.columnBytes && inLayout.planeBytes == outLayout.planeBytes &&
         inLayout.total == outLayout.total &&
         !TileReachesOutside(out.left, out.top, out.right, out.bottom, t->editor.width, t->editor.height);
}

OSErr AdvanceState() {
  // Outside a Filter call (a plug-in's leftover thread, an About box) there
  // are no tiles to hand out.
  PluginCall* call = CurrentCall();
  TileExchange* t = call->tiles;
  if (t == nullptr || t->record == nullptr) return paramErr;
  FilterRecord* fr = t->record;
  JobRecord* job = call->job;

  if (EscapeKeyCancels()) return userCanceledErr;

  // Refusals come before anything changes, the waiting tile included.
  if (NeedsThirtyTwoBitCoordinates(t, fr)) {
    t->refusal = PLUGIN_NEEDS_32BIT_COORDINATES;
    return filterBadParameters;
  }
  const VRect inRect = TileRect(fr, true), outRect = TileRect(fr, false);
  if (OutOfBoundsRefused(t, fr, inRect, outRect)) return filterBadParameters;

  SyncCoordinates(fr);

  if (fr->supportsPadding) {
    if (fr->inputPadding >= 0) t->inputPad = fr->inputPadding;
    if (fr->outputPadding >= 0) t->outputPad = fr->outputPadding;
  } else {
    t->inputPad = t->outputPad = 0;
    fr->inputPadding = fr->outputPadding = 0;
  }

  Normalise(&fr->inRect);
  Normalise(&fr->outRect);
  if (fr->bigDocumentData != nullptr) {
    Normalise(&fr->bigDocumentData->inRect32);
    Normalise(&fr->bigDocumentData->outRect32);
  }

  // In tile.
  t->inTileOriginal = false;
  TileLayout inLayout;
  TileLayoutResult inResult = ComputeTileLayout(fr->wantLayout, fr->depth, inRect.left, inRect.top, inRect.right,
                                                inRect.bottom, fr->inLoPlane, fr->inHiPlane, &inLayout);
  if (inResult == TILE_LAYOUT_REFUSED) return paramErr;
  if (inResult == TILE_LAYOUT_TOO_LARGE) {
    fr->inData = nullptr;
    return memFullErr;
  }
  fr->inRowBytes = inLayout.rowBytes;
  fr->inColumnBytes = inLayout.columnBytes;
  fr->inPlaneBytes = inLayout.planeBytes;
  if (inLayout.total < 1) {
    FreeBlock(&t->inBlock, &t->inBlockSize);
    fr->inData = nullptr;
  } else {
    uint64_t needed = TileBytesWithPadding(inLayout, t->inputPad);
    if (needed == 0 || !ProvideBlock(&t->inBlock, &t->inBlockSize, needed)) {
      fr->inData = nullptr;
      return memFullErr;
    }
    fr->inData = t->inBlock;
    FillInTile(t, fr, inRect, inLayout);
  }

  WriteBackWaitingTile(t, job);

  // Out tile.
  fr->outData = nullptr;
  TileLayout outLayout;
  TileLayoutResult outResult = ComputeTileLayout(fr->wantLayout, fr->depth, outRect.left, outRect.top, outRect.right,
                                                 outRect.bottom, fr->outLoPlane, fr->outHiPlane, &outLayout);
  if (outResult == TILE_LAYOUT_REFUSED) return paramErr;
  if (outResult == TILE_LAYOUT_TOO_LARGE) return memFullErr;
  fr->outRowBytes = outLayout.rowBytes;
  fr->outColumnBytes = outLayout.columnBytes;
  fr->outPlaneBytes = outLayout.planeBytes;
  if (outLayout.total < 1) {
    FreeBlock(&t->outBlock, &t->outBlockSize);
    return noErr;
  }
  uint64_t needed = TileBytesWithPadding(outLayout, t->outputPad);
  if (needed == 0 || !ProvideBlock(&t->outBlock, &t->outBlockSize, needed)) return memFullErr;
  fr->outData = t->outBlock;

  memcpy(t->shadow, fr, t->recordBytes);
  t->shadowOutRect = outRect;

  PixelBuffer* editor = &t->editor;
  if (job == nullptr || job->ImageAccessBegin == nullptr || !job->ImageAccessBegin(job)) return noErr;
  if (editor->pixels != nullptr && OutTileIsInTile(t, fr, inRect, outRect, inLayout, outLayout)) {
    memcpy(fr->outData, t->inBlock, static_cast<size_t>(outLayout.total));
  } else if (editor->pixels != nullptr) {
    TileImage image{reinterpret_cast<const uint8_t*>(editor->pixels), editor->pitch, editor->width, editor->height};
    FillTile(image, outRect.left, outRect.top, outRect.right, outRect.bottom, fr->outLoPlane, fr->outHiPlane,
             static_cast<uint8_t*>(fr->outData), outLayout, PaddingOf(fr, false));
  }
  if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  return noErr;
}
