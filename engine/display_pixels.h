// displayPixels for plug-ins: draws a rectangle of a plug-in's pixel map onto
// the plug-in's device context at (dstCol, dstRow).
#pragma once
#include <cstdint>

struct PSPixelMap;
struct VRect;

// 0 drawn (or nothing to draw), -30100 bad arguments, -108 no display buffer.
int16_t DisplayPixels(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow, int32_t dstCol,
                      void* platformContext);
