// Channel ports: plug-ins that use the document description read channels
// from the working image (scaled as they ask) and write them straight into
// the editor's image. Ports 1-3 are red, green, blue; 4 is transparency.
#pragma once
#include <cstdint>

#include "sdk/procs.h"

OSErr ReadChannelPixels(PIChannelPort port, const PSScaling* scaling, const VRect* writeRect,
                     const PixelMemoryDesc* destination, VRect* wroteRect);
OSErr WriteBaseChannelPixels(PIChannelPort port, const VRect* writeRect, const PixelMemoryDesc* source);
OSErr ReadPortForWritePort(PIChannelPort* readPort, PIChannelPort writePort);

// (left, top, right, bottom) with the smaller coordinate first; 0 when out is null.
int NormalizeRect(int32_t* out, int32_t left, int32_t top, int32_t right, int32_t bottom);

// The pixel byte a port reaches, or -1 for a port that reaches nothing.
int PortByte(uintptr_t port);
