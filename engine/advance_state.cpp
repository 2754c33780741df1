#include "engine/advance_state.h"

#include <windows.h>
#include <cstring>
#include <utility>

#include "engine/escape_key.h"
#include "engine/resample.h"
#include "engine/tile_layout.h"
#include "sdk/filter_record.h"
#include "server/job_record.h"
#include "server/memory.h"

TileExchange gTiles;
static uint32_t gRecordBytes = 0;

void ResetTileExchange(FilterRecord* record, FilterRecord* shadow, uint32_t recordBytes) {
  gTiles.record = record;
  gTiles.shadow = shadow;
  gRecordBytes = recordBytes;
  memset(shadow, 0, recordBytes);
  gTiles.inputPad = 0;
  gTiles.outputPad = 0;
}

static void FreeBlock(uint8_t** block, uint64_t* size) {
  ::FreeBlock(*block);
  *block = nullptr;
  *size = 0;
}

void FreeTileBlocks() {
  FreeBlock(&gTiles.inBlock, &gTiles.inBlockSize);
  FreeBlock(&gTiles.outBlock, &gTiles.outBlockSize);
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
  *block = static_cast<uint8_t*>(AllocFixed(a));
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

// The rectangle a tile is described by: the 32-bit one when the plug-in uses
// those, so that images wider than 32767 pixels work.
static VRect TileRect(const FilterRecord* fr, bool input) {
  const BigDocumentStruct* big = fr->bigDocumentData;
  if (big != nullptr && big->PluginUsing32BitCoordinates != 0) return input ? big->inRect32 : big->outRect32;
  const Rect& r = input ? fr->inRect : fr->outRect;
  return VRect{r.top, r.left, r.bottom, r.right};
}

static void FillInTile(FilterRecord* fr, const VRect& rect, const TileLayout& layout) {
  PixelBuffer* source = &gTiles.working;
  PixelBuffer scaled;
  memset(&scaled, 0, sizeof(scaled));
  bool usingScaled = false;
  if (fr->inputRate != 0x10000 && layout.width > 0 && layout.height > 0) {
    // The whole image scaled into the rectangle's size, read at its position.
    if (CreatePixelBuffer(&scaled, static_cast<int32_t>(source->width), static_cast<int32_t>(source->height), 0)) {
      usingScaled = ResampleRegion(&scaled, 0, 0, static_cast<int32_t>(layout.width - 1),
                                   static_cast<int32_t>(layout.height - 1), source, 0, 0,
                                   static_cast<int32_t>(source->width) - 1, static_cast<int32_t>(source->height) - 1,
                                   0) != 0;
      if (usingScaled) source = &scaled;
    }
  }
  if (BeginPixelAccess(source, 0)) {
    TileClamp area = ClampTile(rect.left, rect.top, rect.right, rect.bottom, fr->inLoPlane, fr->inHiPlane,
                               source->width, source->height);
    FillTileFromPixels(reinterpret_cast<const uint8_t*>(source->pixels), source->pitch, area,
                       static_cast<uint8_t*>(fr->inData), layout, area.x0, area.y0, area.p0);
    EndPixelAccess(source, 0);
  }
  if (scaled.magic != 0) ReleasePixelBuffer(&scaled);
}

static void WriteBackWaitingTile() {
  FilterRecord* shadow = gTiles.shadow;
  if (shadow == nullptr || shadow->outData == nullptr) return;
  JobRecord* job = gCurrentJob;
  PixelBuffer* editor = &gTiles.editor;
  const VRect& rect = gTiles.shadowOutRect;
  TileClamp area = ClampTile(rect.left, rect.top, rect.right, rect.bottom, shadow->outLoPlane, shadow->outHiPlane,
                             editor->width, editor->height);
  if (job != nullptr && job->ImageAccessBegin != nullptr && job->ImageAccessBegin(job) && editor->pixels != nullptr) {
    StoreTileToPixels(reinterpret_cast<uint8_t*>(editor->pixels), editor->pitch, area,
                      static_cast<const uint8_t*>(shadow->outData), shadow->outRowBytes, shadow->outColumnBytes,
                      shadow->outPlaneBytes, area.x0, area.y0, area.p0);
    if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  }
  shadow->outData = nullptr;
}

OSErr AdvanceState() {
  FilterRecord* fr = gTiles.record;
  if (fr == nullptr) return paramErr;

  if (EscapeKeyCancels()) return userCanceledErr;

  SyncCoordinates(fr);

  if (fr->supportsPadding) {
    if (fr->inputPadding >= 0) gTiles.inputPad = fr->inputPadding;
    if (fr->outputPadding >= 0) gTiles.outputPad = fr->outputPadding;
  } else {
    gTiles.inputPad = gTiles.outputPad = 0;
    fr->inputPadding = fr->outputPadding = 0;
  }

  Normalise(&fr->inRect);
  Normalise(&fr->outRect);
  if (fr->bigDocumentData != nullptr) {
    Normalise(&fr->bigDocumentData->inRect32);
    Normalise(&fr->bigDocumentData->outRect32);
  }

  // In tile.
  VRect inRect = TileRect(fr, true);
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
    FreeBlock(&gTiles.inBlock, &gTiles.inBlockSize);
    fr->inData = nullptr;
  } else {
    uint64_t needed = TileBytesWithPadding(inLayout, gTiles.inputPad);
    if (needed == 0 || !ProvideBlock(&gTiles.inBlock, &gTiles.inBlockSize, needed)) {
      fr->inData = nullptr;
      return memFullErr;
    }
    fr->inData = gTiles.inBlock;
    FillInTile(fr, inRect, inLayout);
  }

  WriteBackWaitingTile();

  // Out tile.
  fr->outData = nullptr;
  VRect outRect = TileRect(fr, false);
  TileLayout outLayout;
  TileLayoutResult outResult = ComputeTileLayout(fr->wantLayout, fr->depth, outRect.left, outRect.top, outRect.right,
                                                 outRect.bottom, fr->outLoPlane, fr->outHiPlane, &outLayout);
  if (outResult == TILE_LAYOUT_REFUSED) return paramErr;
  if (outResult == TILE_LAYOUT_TOO_LARGE) return memFullErr;
  fr->outRowBytes = outLayout.rowBytes;
  fr->outColumnBytes = outLayout.columnBytes;
  fr->outPlaneBytes = outLayout.planeBytes;
  if (outLayout.total < 1) {
    FreeBlock(&gTiles.outBlock, &gTiles.outBlockSize);
    return noErr;
  }
  uint64_t needed = TileBytesWithPadding(outLayout, gTiles.outputPad);
  if (needed == 0 || !ProvideBlock(&gTiles.outBlock, &gTiles.outBlockSize, needed)) return memFullErr;
  fr->outData = gTiles.outBlock;

  memcpy(gTiles.shadow, fr, gRecordBytes);
  gTiles.shadowOutRect = outRect;

  JobRecord* job = gCurrentJob;
  PixelBuffer* editor = &gTiles.editor;
  if (job == nullptr || job->ImageAccessBegin == nullptr || !job->ImageAccessBegin(job)) return noErr;
  TileClamp area = ClampTile(outRect.left, outRect.top, outRect.right, outRect.bottom, fr->outLoPlane,
                             fr->outHiPlane, editor->width, editor->height);
  if (editor->pixels != nullptr)
    FillTileFromPixels(reinterpret_cast<const uint8_t*>(editor->pixels), editor->pitch, area,
                       static_cast<uint8_t*>(fr->outData), outLayout, area.x0, area.y0, area.p0);
  if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  return noErr;
}
