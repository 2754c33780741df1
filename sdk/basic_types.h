// Basic types and constants of the published plug-in interface, declared from
// the record tables and pinned for both builds.
#pragma once
#include <cstddef>
#include <cstdint>

using OSErr = int16_t;
using Fixed = int32_t;
using OSType = uint32_t;
using SPErr = int32_t;
using SPBoolean = int32_t;  // a 32-bit integer on Windows, not a byte
using Boolean = uint8_t;
using Handle = char**;
using Ptr = char*;
using Str255 = uint8_t[256];

struct Point {
  int16_t v, h;
};
struct Rect {
  int16_t top, left, bottom, right;
};
struct VPoint {
  int32_t v, h;
};
struct VRect {
  int32_t top, left, bottom, right;
};
struct RGBColor {
  uint16_t red, green, blue;
};
struct FilterColor {
  uint8_t bytes[4];
};

static_assert(sizeof(Point) == 4 && offsetof(Point, h) == 2);
static_assert(sizeof(Rect) == 8 && offsetof(Rect, left) == 2 && offsetof(Rect, bottom) == 4 && offsetof(Rect, right) == 6);
static_assert(sizeof(VPoint) == 8 && offsetof(VPoint, h) == 4);
static_assert(sizeof(VRect) == 16 && offsetof(VRect, left) == 4 && offsetof(VRect, bottom) == 8 &&
              offsetof(VRect, right) == 12);
static_assert(sizeof(RGBColor) == 6 && offsetof(RGBColor, green) == 2 && offsetof(RGBColor, blue) == 4);
static_assert(sizeof(FilterColor) == 4);
static_assert(sizeof(SPBoolean) == 4);

constexpr uint32_t FourCC(const char (&code)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) | static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}

// Selectors.
constexpr int16_t filterSelectorAbout = 0;
constexpr int16_t filterSelectorParameters = 1;
constexpr int16_t filterSelectorPrepare = 2;
constexpr int16_t filterSelectorStart = 3;
constexpr int16_t filterSelectorContinue = 4;
constexpr int16_t filterSelectorFinish = 5;

// Result codes.
constexpr OSErr noErr = 0;
constexpr OSErr readErr = -19;
constexpr OSErr writErr = -20;
constexpr OSErr openErr = -23;
constexpr OSErr dskFulErr = -34;
constexpr OSErr ioErr = -36;
constexpr OSErr eofErr = -39;
constexpr OSErr fnfErr = -43;
constexpr OSErr fLckdErr = -45;
constexpr OSErr vLckdErr = -46;
constexpr OSErr paramErr = -50;
constexpr OSErr memFullErr = -108;
constexpr OSErr nilHandleErr = -109;
constexpr OSErr memWZErr = -111;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr filterBadParameters = -30100;
constexpr OSErr filterBadMode = -30101;
constexpr OSErr errPlugInHostInsufficient = -30900;
constexpr OSErr errPlugInPropertyUndefined = -30901;
constexpr OSErr errHostDoesNotSupportColStep = -30902;
constexpr OSErr errInvalidSamplePoint = -30903;
constexpr OSErr errReportString = -30904;
constexpr OSErr errHostVersionIncompatible = -30905;
// The server's own: the plug-in faulted.
constexpr int16_t PLUGIN_CRASHED = -32767;
// The server's own: the image has a side over 32,767 and the plug-in works
// with the record's 16-bit rectangles, which cannot reach it.
constexpr int16_t PLUGIN_NEEDS_32BIT_COORDINATES = -32766;

constexpr SPErr kSPNoError = 0;
constexpr SPErr kSPUnimplementedError = 0x21494D50;  // '!IMP'
constexpr SPErr kSPOutOfMemoryError = static_cast<SPErr>(0xFFFFFF6C);

constexpr OSType kHostSignature = 0x3842494D;  // '8BIM'

// The entry point: selector, parameter block, plug-in data word, result.
using PluginEntryProc = void (*)(int16_t selector, void* parameterBlock, intptr_t* data, int16_t* result);
