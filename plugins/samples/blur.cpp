// Box Blur: a 3 × 3 average of red, green and blue, transparency kept. Each
// strip needs one row of context above and below, so the input rectangle is
// the output strip grown by a row, clipped to the image; edges repeat their
// outermost pixels. It asks the host for edge padding, which hosts that
// support it use to size the input buffer.
#include "sdk/filter_record.h"

namespace {

constexpr int32_t kStripRows = 32;

void AskFor(FilterRecord* fr, int32_t top) {
  const int32_t width = fr->filterRect.right, height = fr->filterRect.bottom;
  int32_t bottom = top + kStripRows < height ? top + kStripRows : height;
  int32_t inTop = top > 0 ? top - 1 : 0;
  int32_t inBottom = bottom < height ? bottom + 1 : height;
  fr->inRect = Rect{static_cast<int16_t>(inTop), 0, static_cast<int16_t>(inBottom), static_cast<int16_t>(width)};
  fr->outRect = Rect{static_cast<int16_t>(top), 0, static_cast<int16_t>(bottom), static_cast<int16_t>(width)};
  fr->inLoPlane = fr->outLoPlane = 0;
  fr->inHiPlane = fr->outHiPlane = 3;
}

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

void BlurStrip(FilterRecord* fr) {
  const int width = fr->outRect.right - fr->outRect.left;
  const int inTop = fr->inRect.top, inBottom = fr->inRect.bottom;
  for (int y = fr->outRect.top; y < fr->outRect.bottom; ++y) {
    uint8_t* out = static_cast<uint8_t*>(fr->outData) + (y - fr->outRect.top) * fr->outRowBytes;
    for (int x = 0; x < width; ++x) {
      int sum[3] = {0, 0, 0};
      for (int dy = -1; dy <= 1; ++dy) {
        const int sy = Clamp(y + dy, inTop, inBottom - 1);
        const uint8_t* row = static_cast<const uint8_t*>(fr->inData) + (sy - inTop) * fr->inRowBytes;
        for (int dx = -1; dx <= 1; ++dx) {
          const uint8_t* p = row + Clamp(x + dx, 0, width - 1) * 4;
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
      }
      const uint8_t* self = static_cast<const uint8_t*>(fr->inData) + (y - inTop) * fr->inRowBytes + x * 4;
      for (int c = 0; c < 3; ++c) out[x * 4 + c] = static_cast<uint8_t>((sum[c] + 4) / 9);
      out[x * 4 + 3] = self[3];
    }
  }
}

}  // namespace

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, void* block, intptr_t* data, int16_t* result) {
  *result = noErr;
  if (selector == filterSelectorAbout) return;
  FilterRecord* fr = static_cast<FilterRecord*>(block);
  switch (selector) {
    case filterSelectorParameters:
      break;
    case filterSelectorPrepare:
      if (fr->supportsPadding) fr->inputPadding = -1;  // edge replication
      break;
    case filterSelectorStart:
      AskFor(fr, 0);
      break;
    case filterSelectorContinue: {
      if (fr->inData == nullptr || fr->outData == nullptr) {
        *result = memFullErr;  // the host could not provide the tiles
        return;
      }
      BlurStrip(fr);
      const int32_t next = fr->outRect.bottom;
      if (fr->progressProc != nullptr) fr->progressProc(next, fr->filterRect.bottom);
      if (next >= fr->filterRect.bottom) {
        fr->inRect = fr->outRect = Rect{0, 0, 0, 0};
      } else {
        AskFor(fr, next);
      }
      break;
    }
    case filterSelectorFinish:
      break;
    default:
      *result = filterBadParameters;
  }
  (void)data;
}
