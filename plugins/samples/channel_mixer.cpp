// Channel Mixer: works on whole channels through the document description and
// the channel ports instead of tiles. Red takes green's values, green takes
// blue's and blue takes red's; transparency is left alone.
#include <cstring>

#include "sdk/filter_record.h"

namespace {

OSErr ReadChannel(FilterRecord* fr, const ReadChannelDesc* channel, uint8_t* plane, int32_t w, int32_t h) {
  PSScaling scaling;
  scaling.sourceRect = VRect{0, 0, h, w};
  scaling.destinationRect = scaling.sourceRect;
  PixelMemoryDesc desc{plane, w * 8, 8, 0, 8};
  VRect wrote{};
  return fr->channelPortProcs->readPixelsProc(channel->port, &scaling, &scaling.sourceRect, &desc, &wrote);
}

OSErr WriteChannel(FilterRecord* fr, const ReadChannelDesc* channel, uint8_t* plane, int32_t w, int32_t h) {
  VRect rect{0, 0, h, w};
  PixelMemoryDesc desc{plane, w * 8, 8, 0, 8};
  PIChannelPort writePort = nullptr;
  fr->channelPortProcs->readPortForWritePortProc(&writePort, channel->port);
  return fr->channelPortProcs->writeBasePixelsProc(writePort, &rect, &desc);
}

OSErr Mix(FilterRecord* fr) {
  const ReadImageDocumentDesc* doc = fr->documentInfo;
  if (doc == nullptr || fr->channelPortProcs == nullptr || fr->bufferProcs == nullptr) return errPlugInHostInsufficient;
  const ReadChannelDesc* channels[3];
  channels[0] = doc->targetCompositeChannels;
  for (int i = 1; i < 3; ++i) channels[i] = channels[i - 1] != nullptr ? channels[i - 1]->next : nullptr;
  if (channels[2] == nullptr) return filterBadMode;
  const int32_t w = doc->bounds.right - doc->bounds.left, h = doc->bounds.bottom - doc->bounds.top;
  BufferID buffer = nullptr;
  OSErr err = fr->bufferProcs->allocateProc(w * h * 3, &buffer);
  if (err != noErr) return err;
  uint8_t* planes = reinterpret_cast<uint8_t*>(fr->bufferProcs->lockProc(buffer, 0));
  for (int i = 0; i < 3 && err == noErr; ++i) err = ReadChannel(fr, channels[i], planes + i * w * h, w, h);
  for (int i = 0; i < 3 && err == noErr; ++i)
    err = WriteChannel(fr, channels[i], planes + ((i + 1) % 3) * w * h, w, h);
  fr->bufferProcs->unlockProc(buffer);
  fr->bufferProcs->freeProc(buffer);
  return err;
}

}  // namespace

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, void* block, intptr_t* data, int16_t* result) {
  *result = noErr;
  (void)data;
  if (selector == filterSelectorAbout) return;
  FilterRecord* fr = static_cast<FilterRecord*>(block);
  if (selector == filterSelectorStart) {
    *result = Mix(fr);
    // Nothing to exchange through tiles.
    fr->inRect = fr->outRect = Rect{0, 0, 0, 0};
  }
}
