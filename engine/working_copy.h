// The working copy of a Filter call: the image as it was when the filter
// started. A row is copied into it from the editor's pixels just before the
// first write to that row goes back; until then the editor's row is the
// original. Copying the whole image up front cost a fifth of a 4096² Invert,
// and a filter that writes part of the image needs only that part kept.
#pragma once
#include <cstdint>

struct PixelBuffer;
struct TileExchange;

// Starts the working copy in `tiles->working`, attached at the image's size.
// Without memory for its row marks the whole copy is made now; false only
// when that copy fails. The caller holds access to the editor's pixels.
bool BeginWorkingCopy(TileExchange* tiles);
// Copies rows y0..y1-1 (held to the image) into the working copy where they
// are not there yet. Before any write to the editor's pixels, under access.
void SaveOriginalRows(TileExchange* tiles, int32_t y0, int32_t y1);
// The image whose rows y0..y1-1 are the original pixels: the editor's while
// none of those rows has been written, else the working copy, completed for
// them first. A range outside the image stands for its nearest row. Under
// access to the editor's pixels; until EndOriginalRows no row is saved, so
// no other thread's write can reach the editor's rows being read.
PixelBuffer* BeginOriginalRows(TileExchange* tiles, int32_t y0, int32_t y1);
// Ends the read begun with what BeginOriginalRows answered.
void EndOriginalRows(TileExchange* tiles, const PixelBuffer* source);
// Gives the editor's pixels their original values back where rows were
// written. Under access.
void RestoreOriginalRows(TileExchange* tiles);
// Frees the row marks; the working copy's memory is the caller's.
void EndWorkingCopy(TileExchange* tiles);
