// The pixel map that plug-ins hand to displayPixels, and its mask record, as
// published. Pinned for both builds.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"

struct PSPixelMask {
  PSPixelMask* next;
  void* maskData;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t maskDescription;  // 0 simple, 1 black mat, 2 grey mat, 3 white mat, 4 invert
};

struct PSPixelMap {
  int32_t version;
  VRect bounds;
  int32_t imageMode;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t planeBytes;
  void* baseAddr;
  PSPixelMask* mat;  // version 1 on
  PSPixelMask* masks;
  int32_t maskPhaseRow;
  int32_t maskPhaseCol;
  void* pixelOverlays;  // version 2 on
  uint32_t colorManagementOptions;
  int16_t depth;  // version 3 on
};

// By pointer width, so that a native 64-bit build (tests, fuzzing) checks the same table.
#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(PSPixelMask) == 32);
static_assert(offsetof(PSPixelMask, next) == 0);
static_assert(offsetof(PSPixelMask, maskData) == 8);
static_assert(offsetof(PSPixelMask, rowBytes) == 16);
static_assert(offsetof(PSPixelMask, colBytes) == 20);
static_assert(offsetof(PSPixelMask, maskDescription) == 24);

static_assert(sizeof(PSPixelMap) == 88);
static_assert(offsetof(PSPixelMap, version) == 0);
static_assert(offsetof(PSPixelMap, bounds) == 4);
static_assert(offsetof(PSPixelMap, imageMode) == 20);
static_assert(offsetof(PSPixelMap, rowBytes) == 24);
static_assert(offsetof(PSPixelMap, colBytes) == 28);
static_assert(offsetof(PSPixelMap, planeBytes) == 32);
static_assert(offsetof(PSPixelMap, baseAddr) == 40);
static_assert(offsetof(PSPixelMap, mat) == 48);
static_assert(offsetof(PSPixelMap, masks) == 56);
static_assert(offsetof(PSPixelMap, maskPhaseRow) == 64);
static_assert(offsetof(PSPixelMap, maskPhaseCol) == 68);
static_assert(offsetof(PSPixelMap, pixelOverlays) == 72);
static_assert(offsetof(PSPixelMap, colorManagementOptions) == 80);
static_assert(offsetof(PSPixelMap, depth) == 84);
#else
static_assert(sizeof(PSPixelMask) == 20);
static_assert(offsetof(PSPixelMask, next) == 0);
static_assert(offsetof(PSPixelMask, maskData) == 4);
static_assert(offsetof(PSPixelMask, rowBytes) == 8);
static_assert(offsetof(PSPixelMask, colBytes) == 12);
static_assert(offsetof(PSPixelMask, maskDescription) == 16);

static_assert(sizeof(PSPixelMap) == 68);
static_assert(offsetof(PSPixelMap, version) == 0);
static_assert(offsetof(PSPixelMap, bounds) == 4);
static_assert(offsetof(PSPixelMap, imageMode) == 20);
static_assert(offsetof(PSPixelMap, rowBytes) == 24);
static_assert(offsetof(PSPixelMap, colBytes) == 28);
static_assert(offsetof(PSPixelMap, planeBytes) == 32);
static_assert(offsetof(PSPixelMap, baseAddr) == 36);
static_assert(offsetof(PSPixelMap, mat) == 40);
static_assert(offsetof(PSPixelMap, masks) == 44);
static_assert(offsetof(PSPixelMap, maskPhaseRow) == 48);
static_assert(offsetof(PSPixelMap, maskPhaseCol) == 52);
static_assert(offsetof(PSPixelMap, pixelOverlays) == 56);
static_assert(offsetof(PSPixelMap, colorManagementOptions) == 60);
static_assert(offsetof(PSPixelMap, depth) == 64);
#endif
