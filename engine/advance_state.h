// The tile exchange of a running filter: advanceState fills the plug-in's
// input and output tiles and writes finished output tiles back.
#pragma once
#include <atomic>
#include <cstdint>

#include "base/memory.h"
#include "engine/pixel_buffer.h"
#include "sdk/basic_types.h"

struct FilterRecord;

struct TileExchange {
  FilterRecord* record;  // the running filter's record
  PixelBuffer working;   // the image as it was when the filter started
  OwnedBlock workingMemory;  // its pixels: a region kept from job to job
  // A byte a row, set once the row is in the working copy (see
  // working_copy.h); null when the whole copy was made at once. The flag
  // keeps a row from being saved while another thread writes it.
  uint8_t* savedRows;
  std::atomic_flag savingRows;
  PixelBuffer editor;    // over the editor's pixels, where output goes
  uint8_t* inBlock;
  uint64_t inBlockSize;
  uint8_t* outBlock;
  uint64_t outBlockSize;
  int32_t inputPad;
  int32_t outputPad;
  // The record as it was when the waiting out tile was handed out, and that
  // tile's rectangle: the record's 32-bit rectangles live outside it, so the
  // copy alone would follow the plug-in's later changes.
  FilterRecord* shadow;
  VRect shadowOutRect;
  // Set when advanceState has refused the plug-in for the rest of the call
  // (PLUGIN_NEEDS_32BIT_COORDINATES): the call's result, whatever the
  // plug-in answers. 0 otherwise.
  int16_t refusal;
  uint32_t recordBytes;  // how much of the record the shadow copies
  // Whether the in tile now handed out holds the original pixels, and the
  // box around all that went back to the editor's pixels this call: outside
  // it those pixels are still the original ones.
  bool inTileOriginal;
  VRect written;
};

// Keeps the original rows y0..y1-1 in the working copy and widens the box of
// what went back to the editor's pixels by (x0, y0)-(x1, y1): before every
// write to those pixels.
void NoteEditorWrite(TileExchange* tiles, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// Sides the record's 16-bit fields can describe.
constexpr uint32_t RECORD_16BIT_SIDE = 32767;

// The FilterRecord's advanceState procedure: works on the current call's
// tiles.
OSErr AdvanceState();
// Set-up: forget the waiting tile, the remembered padding and any refusal.
void ResetTileExchange(TileExchange* tiles, FilterRecord* record, FilterRecord* shadow, uint32_t recordBytes);
// End of a filter: free both tile blocks.
void FreeTileBlocks(TileExchange* tiles);
// Frees the tile blocks kept for reuse (FreeTileBlocks and smaller tiles give
// theirs up to a pool). Only while no Filter call runs.
void ReleaseTileBlockPool();
