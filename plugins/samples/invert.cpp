// Invert: the classic filter shape. It asks for the image in strips of 64
// rows through inRect/outRect, inverts red, green and blue, keeps the
// transparency, and reports progress after every strip.
#include "sdk/filter_record.h"

namespace {

constexpr int16_t kStripRows = 64;

struct Strip {
  int32_t top;  // first row of the strip in hand
};

int32_t ImageHeight(const FilterRecord* fr) {
  return fr->bigDocumentData != nullptr ? fr->bigDocumentData->imageSize32.v : fr->imageSize.v;
}

void AskFor(FilterRecord* fr, int32_t top) {
  const int16_t width = fr->filterRect.right;
  int32_t bottom = top + kStripRows;
  if (bottom > ImageHeight(fr)) bottom = ImageHeight(fr);
  fr->inRect = Rect{static_cast<int16_t>(top), 0, static_cast<int16_t>(bottom), width};
  fr->outRect = fr->inRect;
  fr->inLoPlane = fr->outLoPlane = 0;
  fr->inHiPlane = fr->outHiPlane = 3;
}

void AskForNothing(FilterRecord* fr) {
  fr->inRect = Rect{0, 0, 0, 0};
  fr->outRect = Rect{0, 0, 0, 0};
}

void InvertStrip(FilterRecord* fr) {
  const int rows = fr->outRect.bottom - fr->outRect.top;
  const int columns = fr->outRect.right - fr->outRect.left;
  for (int y = 0; y < rows; ++y) {
    const uint8_t* in = static_cast<const uint8_t*>(fr->inData) + y * fr->inRowBytes;
    uint8_t* out = static_cast<uint8_t*>(fr->outData) + y * fr->outRowBytes;
    for (int x = 0; x < columns; ++x, in += 4, out += 4) {
      out[0] = static_cast<uint8_t>(255 - in[0]);
      out[1] = static_cast<uint8_t>(255 - in[1]);
      out[2] = static_cast<uint8_t>(255 - in[2]);
      out[3] = in[3];
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
    case filterSelectorPrepare:
      break;
    case filterSelectorStart:
      *data = 0;
      AskFor(fr, 0);
      break;
    case filterSelectorContinue: {
      if (fr->abortProc != nullptr && fr->abortProc()) {
        *result = userCanceledErr;
        return;
      }
      if (fr->inData == nullptr || fr->outData == nullptr) {
        *result = memFullErr;  // the host could not provide the tiles
        return;
      }
      InvertStrip(fr);
      int32_t next = fr->outRect.bottom;
      if (fr->progressProc != nullptr) fr->progressProc(next, ImageHeight(fr));
      if (next >= ImageHeight(fr)) AskForNothing(fr);
      else AskFor(fr, next);
      break;
    }
    case filterSelectorFinish:
      AskForNothing(fr);
      break;
    default:
      *result = filterBadParameters;
  }
}
