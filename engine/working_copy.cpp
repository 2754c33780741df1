#include "engine/working_copy.h"

#include <windows.h>

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/memory.h"
#include "engine/advance_state.h"
#include "engine/pixel_buffer.h"
#include "engine/region_copy.h"

static uint8_t* Row(const PixelBuffer& image, int32_t y) {
  return reinterpret_cast<uint8_t*>(image.pixels) + static_cast<uint64_t>(y) * image.pitch * 4;
}

// A saved row is read again only by a restore or a tile that overlaps what
// went back: it goes past the cache, which then keeps the rows in use.
static void CopyRowPastCache(uint8_t* to, const uint8_t* from, size_t bytes) {
#if defined(__SSE2__)
  size_t at = 0;
  if ((reinterpret_cast<uintptr_t>(to) & 15) == 0) {
    for (; at + 64 <= bytes; at += 64) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at + 16));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at + 32));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at + 48));
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + at), a);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + at + 16), b);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + at + 32), c);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + at + 48), d);
    }
  }
  memcpy(to + at, from + at, bytes - at);
#else
  memcpy(to, from, bytes);
#endif
}

// The whole copy at once: the row marks could not be had, or a restore of a
// copy made that way.
static bool CopyWhole(PixelBuffer* to, PixelBuffer* from) {
  const int32_t w = static_cast<int32_t>(to->width), h = static_cast<int32_t>(to->height);
  return CopyRegion(to, 0, 0, w - 1, h - 1, from, 0, 0, w - 1, h - 1, 0) != 0;
}

bool BeginWorkingCopy(TileExchange* t) {
  EndWorkingCopy(t);
  if (t->working.width == 0 || t->working.height == 0) return false;
  t->savedRows = static_cast<uint8_t*>(AllocZeroed(t->working.height));
  if (t->savedRows != nullptr) return true;
  return CopyWhole(&t->working, &t->editor);
}

static void Clamp(const TileExchange* t, int32_t* y0, int32_t* y1) {
  const int32_t h = static_cast<int32_t>(t->working.height);
  *y0 = *y0 < 0 ? 0 : (*y0 > h ? h : *y0);
  *y1 = *y1 < *y0 ? *y0 : (*y1 > h ? h : *y1);
}

// A plug-in's own threads may write through the channel ports while its
// call's thread fills a tile: saving a row and reading original rows from
// the editor's pixels go one at a time.
static void Lock(TileExchange* t) {
  while (t->savingRows.test_and_set(std::memory_order_acquire)) SwitchToThread();
}
static void Unlock(TileExchange* t) { t->savingRows.clear(std::memory_order_release); }

static void SaveRows(TileExchange* t, int32_t y0, int32_t y1) {
  Clamp(t, &y0, &y1);
  const size_t bytes = static_cast<size_t>(t->working.width) * 4;
  for (int32_t y = y0; y < y1; ++y) {
    if (t->savedRows[y] != 0) continue;
    CopyRowPastCache(Row(t->working, y), Row(t->editor, y), bytes);
    t->savedRows[y] = 1;
  }
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

void SaveOriginalRows(TileExchange* t, int32_t y0, int32_t y1) {
  if (t->savedRows == nullptr || t->editor.pixels == nullptr) return;
  Lock(t);
  SaveRows(t, y0, y1);
  Unlock(t);
}

PixelBuffer* BeginOriginalRows(TileExchange* t, int32_t y0, int32_t y1) {
  if (t->savedRows == nullptr || t->editor.pixels == nullptr) return &t->working;
  // At least the nearest row: a tile wholly outside the image is padded
  // from the edge row.
  const int32_t h = static_cast<int32_t>(t->working.height);
  y0 = y0 < 0 ? 0 : (y0 >= h ? h - 1 : y0);
  y1 = y1 <= y0 ? y0 + 1 : (y1 > h ? h : y1);
  Lock(t);
  if (memchr(t->savedRows + y0, 1, static_cast<size_t>(y1 - y0)) == nullptr) return &t->editor;
  SaveRows(t, y0, y1);
  Unlock(t);
  return &t->working;
}

void EndOriginalRows(TileExchange* t, const PixelBuffer* source) {
  // Held only while the editor's own rows are read.
  if (source == &t->editor && t->savedRows != nullptr) Unlock(t);
}

void RestoreOriginalRows(TileExchange* t) {
  if (t->working.width == 0 || t->working.height == 0 || t->editor.pixels == nullptr) return;
  if (t->savedRows == nullptr) {
    CopyWhole(&t->editor, &t->working);
    return;
  }
  const size_t bytes = static_cast<size_t>(t->working.width) * 4;
  const int32_t h = static_cast<int32_t>(t->working.height);
  for (int32_t y = 0; y < h; ++y)
    if (t->savedRows[y] != 0) memcpy(Row(t->editor, y), Row(t->working, y), bytes);
}

void EndWorkingCopy(TileExchange* t) {
  FreeBlock(t->savedRows);
  t->savedRows = nullptr;
}
