#include "engine/channel_ports.h"

#include <cstring>

#include "engine/advance_state.h"
#include "engine/pixel_buffer.h"
#include "engine/resample.h"
#include "engine/working_copy.h"
#include "engine/tile_layout.h"
#include "sdk/filter_record.h"
#include "call/job_record.h"
#include "call/plugin_call.h"

int PortByte(uintptr_t port) { return port >= 1 && port <= 4 ? kPlaneByte[port - 1] : -1; }

int NormalizeRect(int32_t* out, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (out == nullptr) return 0;
  out[0] = left < right ? left : right;
  out[1] = top < bottom ? top : bottom;
  out[2] = left < right ? right : left;
  out[3] = top < bottom ? bottom : top;
  return 1;
}

// The byte of sample (x, y) of a pixel memory description; the sum is taken
// in 64 bits so that no plug-in value wraps it.
static uint8_t* SampleAt(const PixelMemoryDesc* desc, int64_t x, int64_t y) {
  int64_t bits = static_cast<int64_t>(desc->colBits) * x + static_cast<int64_t>(desc->rowBits) * y + desc->bitOffset;
  return static_cast<uint8_t*>(desc->data) + (bits >> 3);
}

OSErr ReadChannelPixels(PIChannelPort port, const PSScaling* scaling, const VRect* writeRect,
                     const PixelMemoryDesc* destination, VRect* wroteRect) {
  if (scaling == nullptr || destination == nullptr) return paramErr;
  int32_t s[4], d[4];
  const VRect& src = scaling->sourceRect;
  const VRect& dst = scaling->destinationRect;
  NormalizeRect(s, src.left, src.top, src.right, src.bottom);
  NormalizeRect(d, dst.left, dst.top, dst.right, dst.bottom);
  const int64_t w = static_cast<int64_t>(d[2]) - d[0], h = static_cast<int64_t>(d[3]) - d[1];
  if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return memFullErr;
  // Every sample handed over must have been read from the image: a source
  // that is empty or reaches outside the image would leave some unwritten.
  PluginCall* call = CurrentCall();
  TileExchange* tiles = call->tiles;
  if (tiles == nullptr) return paramErr;
  const PixelBuffer* image = &tiles->working;
  if (s[2] <= s[0] || s[3] <= s[1] || s[0] < 0 || s[1] < 0 || static_cast<int64_t>(s[2]) > image->width ||
      static_cast<int64_t>(s[3]) > image->height)
    return paramErr;
  PixelBuffer temporary;
  memset(static_cast<void*>(&temporary), 0, sizeof(temporary));
  if (!CreatePixelBuffer(&temporary, static_cast<int32_t>(w), static_cast<int32_t>(h), PB_STORAGE_EXACT))
    return memFullErr;
  OSErr result = noErr;
  // The original pixels, wherever they lie now; resampling may reach a row
  // past the rectangle, so all of them.
  JobRecord* job = call->job;
  const bool access = job != nullptr && job->ImageAccessBegin != nullptr && job->ImageAccessBegin(job);
  PixelBuffer* source = access ? BeginOriginalRows(tiles, 0, static_cast<int32_t>(image->height)) : &tiles->working;
  if (!ResampleRegion(&temporary, 0, 0, static_cast<int32_t>(w - 1), static_cast<int32_t>(h - 1), source, s[0], s[1],
                      s[2] - 1, s[3] - 1, 0))
    result = EngineLastError() == ENG_OUT_OF_MEMORY ? memFullErr : paramErr;
  if (access) EndOriginalRows(tiles, source);
  if (access && job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  const int byte = PortByte(reinterpret_cast<uintptr_t>(port));
  if (result == noErr && byte >= 0) {
    if (BeginPixelAccess(&temporary, 0)) {
      const uint8_t* pixels = reinterpret_cast<const uint8_t*>(temporary.pixels);
      for (uint32_t y = 0; y < temporary.height; ++y) {
        const uint8_t* row = pixels + static_cast<uint64_t>(y) * temporary.pitch * 4;
        for (uint32_t x = 0; x < temporary.width; ++x) {
          uint8_t v = row[static_cast<uint64_t>(x) * 4 + byte];
          *SampleAt(destination, x, y) = byte == 3 ? static_cast<uint8_t>(255 - v) : v;
        }
      }
      EndPixelAccess(&temporary, 0);
    } else {
      result = paramErr;
    }
  }
  ReleasePixelBuffer(&temporary);
  if (result == noErr && wroteRect != nullptr && writeRect != nullptr) *wroteRect = *writeRect;
  return result;
}

OSErr WriteBaseChannelPixels(PIChannelPort port, const VRect* writeRect, const PixelMemoryDesc* source) {
  if (writeRect == nullptr || source == nullptr) return paramErr;
  PluginCall* call = CurrentCall();
  JobRecord* job = call->job;
  if (job == nullptr || call->tiles == nullptr || call->tiles->editor.pixels == nullptr) return noErr;
  PixelBuffer* editor = &call->tiles->editor;
  TileClamp area = ClampTile(writeRect->left, writeRect->top, writeRect->right, writeRect->bottom, 0, 0,
                             editor->width, editor->height);
  if (job->ImageAccessBegin == nullptr || !job->ImageAccessBegin(job)) return noErr;
  const int byte = PortByte(reinterpret_cast<uintptr_t>(port));
  if (byte >= 0) {
    NoteEditorWrite(call->tiles, area.x0, area.y0, area.x1, area.y1);
    uint8_t* pixels = reinterpret_cast<uint8_t*>(editor->pixels);
    for (int32_t y = area.y0; y < area.y1; ++y) {
      uint8_t* row = pixels + static_cast<uint64_t>(y) * editor->pitch * 4;
      for (int32_t x = area.x0; x < area.x1; ++x) {
        uint8_t v = *SampleAt(source, static_cast<int64_t>(x) - writeRect->left, static_cast<int64_t>(y) - writeRect->top);
        row[static_cast<uint64_t>(x) * 4 + byte] = byte == 3 ? static_cast<uint8_t>(255 - v) : v;
      }
    }
  }
  if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  return noErr;
}

OSErr ReadPortForWritePort(PIChannelPort* readPort, PIChannelPort writePort) {
  if (readPort != nullptr) *readPort = writePort;
  return noErr;
}
