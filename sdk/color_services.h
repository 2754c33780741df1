// The colour services record a plug-in hands to FilterRecord.colorServices,
// and its selector, colour-space and special-colour constants.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"

struct ColorServicesInfo {
  int32_t infoSize;  // the caller's sizeof; a larger record than ours is refused
  int16_t selector;
  int16_t sourceSpace;
  int16_t resultSpace;
  uint8_t resultGamutInfoValid;
  uint8_t resultInGamut;
  void* reservedSourceSpaceInfo;
  void* reservedResultSpaceInfo;
  int16_t colorComponents[4];
  void* reserved;
  union {
    Str255* pickerPrompt;
    Point* globalSamplePoint;
    int32_t specialColorID;
  } selectorParameter;
};

using ColorServicesProc = OSErr (*)(ColorServicesInfo* info);

static_assert(offsetof(ColorServicesInfo, infoSize) == 0);
static_assert(offsetof(ColorServicesInfo, selector) == 4);
static_assert(offsetof(ColorServicesInfo, sourceSpace) == 6);
static_assert(offsetof(ColorServicesInfo, resultSpace) == 8);
static_assert(offsetof(ColorServicesInfo, resultGamutInfoValid) == 10);
static_assert(offsetof(ColorServicesInfo, resultInGamut) == 11);
static_assert(offsetof(ColorServicesInfo, reservedSourceSpaceInfo) == (sizeof(void*) == 8 ? 16 : 12));
static_assert(offsetof(ColorServicesInfo, reservedResultSpaceInfo) == (sizeof(void*) == 8 ? 24 : 16));
static_assert(offsetof(ColorServicesInfo, colorComponents) == (sizeof(void*) == 8 ? 32 : 20));
static_assert(offsetof(ColorServicesInfo, reserved) == (sizeof(void*) == 8 ? 40 : 28));
static_assert(offsetof(ColorServicesInfo, selectorParameter) == (sizeof(void*) == 8 ? 48 : 32));
static_assert(sizeof(ColorServicesInfo) == (sizeof(void*) == 8 ? 56 : 36));

// Selectors.
constexpr int16_t plugIncolorServicesChooseColor = 0;
constexpr int16_t plugIncolorServicesConvertColor = 1;
constexpr int16_t plugIncolorServicesSamplePoint = 2;
constexpr int16_t plugIncolorServicesGetSpecialColor = 3;

// Colour spaces.
constexpr int16_t plugIncolorServicesChosenSpace = -1;
constexpr int16_t plugIncolorServicesRGBSpace = 0;
constexpr int16_t plugIncolorServicesHSBSpace = 1;
constexpr int16_t plugIncolorServicesCMYKSpace = 2;
constexpr int16_t plugIncolorServicesLabSpace = 3;
constexpr int16_t plugIncolorServicesGraySpace = 4;
constexpr int16_t plugIncolorServicesHSLSpace = 5;
constexpr int16_t plugIncolorServicesXYZSpace = 6;

// Special colours.
constexpr int32_t plugIncolorServicesForegroundColor = 0;
constexpr int32_t plugIncolorServicesBackgroundColor = 1;
