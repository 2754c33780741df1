// The record every filter selector receives, its platform data, the record of
// the About selector and the monitor description.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"
#include "sdk/documents.h"
#include "sdk/layout.h"
#include "sdk/procs.h"
#include "sdk/suites.h"

struct PlatformData {
  intptr_t hwnd;
};
static_assert(sizeof(PlatformData) == (PH64 ? 8 : 4));

struct AboutRecord {
  PlatformData* platformData;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  uint8_t reserved[244];
};
static_assert(offsetof(AboutRecord, sSPBasic) == (PH64 ? 8 : 4));
static_assert(offsetof(AboutRecord, plugInRef) == (PH64 ? 16 : 8));
static_assert(offsetof(AboutRecord, reserved) == (PH64 ? 24 : 12));
static_assert(sizeof(AboutRecord) == (PH64 ? 272 : 256));

struct PlugInMonitor {
  Fixed gamma;
  Fixed redX, redY;
  Fixed greenX, greenY;
  Fixed blueX, blueY;
  Fixed whiteX, whiteY;
  Fixed ambient;
};
static_assert(offsetof(PlugInMonitor, redX) == 4);
static_assert(offsetof(PlugInMonitor, whiteY) == 32);
static_assert(offsetof(PlugInMonitor, ambient) == 36);
static_assert(sizeof(PlugInMonitor) == 40);

// The 8.0/9.0 revision (ends with bigDocumentData and 46 reserved bytes).
// Windows headers pack it to 4 bytes in both builds, so several 64-bit
// pointers sit at offsets 4 modulo 8.
#pragma pack(push, 4)
struct FilterRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  Point imageSize;
  int16_t planes;
  Rect filterRect;
  RGBColor background;
  RGBColor foreground;
  int32_t maxSpace;
  int32_t bufferSpace;
  Rect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  Rect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;
  Rect maskRect;
  void* maskData;
  int32_t maskRowBytes;
  FilterColor backColor;
  FilterColor foreColor;
  OSType hostSig;
  HostProc hostProc;
  int16_t imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  Point floatCoord;
  Point wholeSize;
  PlugInMonitor monitor;
  PlatformData* platformData;
  BufferProcs* bufferProcs;
  ResourceProcs* resourceProcs;
  ProcessEventProc processEvent;
  DisplayPixelsProc displayPixels;
  HandleProcs* handleProcs;
  Boolean supportsDummyChannels;
  Boolean supportsAlternateLayouts;
  int16_t wantLayout;
  int16_t filterCase;
  int16_t dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  Boolean supportsAbsolute;
  Boolean wantsAbsolute;
  GetPropertyProc getPropertyObsolete;
  Boolean cannotUndo;
  Boolean supportsPadding;
  int16_t inputPadding;
  int16_t outputPadding;
  int16_t maskPadding;
  int8_t samplingSupport;
  int8_t reservedByte;
  Fixed inputRate;
  Fixed maskRate;
  ColorServicesProc colorServices;
  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  int16_t inLayerMasks;
  int16_t inInvertedLayerMasks;
  int16_t inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
  int16_t outLayerMasks;
  int16_t outInvertedLayerMasks;
  int16_t outNonLayerPlanes;
  int16_t absLayerPlanes;
  int16_t absTransparencyMask;
  int16_t absLayerMasks;
  int16_t absInvertedLayerMasks;
  int16_t absNonLayerPlanes;
  int16_t inPreDummyPlanes;
  int16_t inPostDummyPlanes;
  int16_t outPreDummyPlanes;
  int16_t outPostDummyPlanes;
  int32_t inColumnBytes;
  int32_t inPlaneBytes;
  int32_t outColumnBytes;
  int32_t outPlaneBytes;
  ImageServicesProcs* imageServicesProcs;
  PropertyProcs* propertyProcs;
  int16_t inTileHeight;
  int16_t inTileWidth;
  Point inTileOrigin;
  int16_t absTileHeight;
  int16_t absTileWidth;
  Point absTileOrigin;
  int16_t outTileHeight;
  int16_t outTileWidth;
  Point outTileOrigin;
  int16_t maskTileHeight;
  int16_t maskTileWidth;
  Point maskTileOrigin;
  PIDescriptorParameters* descriptorParameters;
  uint8_t* errorString;  // a Str255: length byte first
  ChannelPortProcs* channelPortProcs;
  ReadImageDocumentDesc* documentInfo;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  int32_t depth;
  Handle iCCprofileData;
  int32_t iCCprofileSize;
  int32_t canUseICCProfiles;
  int32_t hasImageScrap;
  BigDocumentStruct* bigDocumentData;
  uint8_t reserved[46];
};
#pragma pack(pop)

static_assert(offsetof(FilterRecord, abortProc) == 4);
static_assert(offsetof(FilterRecord, progressProc) == (PH64 ? 12 : 8));
static_assert(offsetof(FilterRecord, parameters) == (PH64 ? 20 : 12));
static_assert(offsetof(FilterRecord, imageSize) == (PH64 ? 28 : 16));
static_assert(offsetof(FilterRecord, planes) == (PH64 ? 32 : 20));
static_assert(offsetof(FilterRecord, filterRect) == (PH64 ? 34 : 22));
static_assert(offsetof(FilterRecord, background) == (PH64 ? 42 : 30));
static_assert(offsetof(FilterRecord, foreground) == (PH64 ? 48 : 36));
static_assert(offsetof(FilterRecord, maxSpace) == (PH64 ? 56 : 44));
static_assert(offsetof(FilterRecord, bufferSpace) == (PH64 ? 60 : 48));
static_assert(offsetof(FilterRecord, inRect) == (PH64 ? 64 : 52));
static_assert(offsetof(FilterRecord, inLoPlane) == (PH64 ? 72 : 60));
static_assert(offsetof(FilterRecord, inHiPlane) == (PH64 ? 74 : 62));
static_assert(offsetof(FilterRecord, outRect) == (PH64 ? 76 : 64));
static_assert(offsetof(FilterRecord, outLoPlane) == (PH64 ? 84 : 72));
static_assert(offsetof(FilterRecord, outHiPlane) == (PH64 ? 86 : 74));
static_assert(offsetof(FilterRecord, inData) == (PH64 ? 88 : 76));
static_assert(offsetof(FilterRecord, inRowBytes) == (PH64 ? 96 : 80));
static_assert(offsetof(FilterRecord, outData) == (PH64 ? 100 : 84));
static_assert(offsetof(FilterRecord, outRowBytes) == (PH64 ? 108 : 88));
static_assert(offsetof(FilterRecord, isFloating) == (PH64 ? 112 : 92));
static_assert(offsetof(FilterRecord, haveMask) == (PH64 ? 113 : 93));
static_assert(offsetof(FilterRecord, autoMask) == (PH64 ? 114 : 94));
static_assert(offsetof(FilterRecord, maskRect) == (PH64 ? 116 : 96));
static_assert(offsetof(FilterRecord, maskData) == (PH64 ? 124 : 104));
static_assert(offsetof(FilterRecord, maskRowBytes) == (PH64 ? 132 : 108));
static_assert(offsetof(FilterRecord, backColor) == (PH64 ? 136 : 112));
static_assert(offsetof(FilterRecord, foreColor) == (PH64 ? 140 : 116));
static_assert(offsetof(FilterRecord, hostSig) == (PH64 ? 144 : 120));
static_assert(offsetof(FilterRecord, hostProc) == (PH64 ? 148 : 124));
static_assert(offsetof(FilterRecord, imageMode) == (PH64 ? 156 : 128));
static_assert(offsetof(FilterRecord, imageHRes) == (PH64 ? 160 : 132));
static_assert(offsetof(FilterRecord, imageVRes) == (PH64 ? 164 : 136));
static_assert(offsetof(FilterRecord, floatCoord) == (PH64 ? 168 : 140));
static_assert(offsetof(FilterRecord, wholeSize) == (PH64 ? 172 : 144));
static_assert(offsetof(FilterRecord, monitor) == (PH64 ? 176 : 148));
static_assert(offsetof(FilterRecord, platformData) == (PH64 ? 216 : 188));
static_assert(offsetof(FilterRecord, bufferProcs) == (PH64 ? 224 : 192));
static_assert(offsetof(FilterRecord, resourceProcs) == (PH64 ? 232 : 196));
static_assert(offsetof(FilterRecord, processEvent) == (PH64 ? 240 : 200));
static_assert(offsetof(FilterRecord, displayPixels) == (PH64 ? 248 : 204));
static_assert(offsetof(FilterRecord, handleProcs) == (PH64 ? 256 : 208));
static_assert(offsetof(FilterRecord, supportsDummyChannels) == (PH64 ? 264 : 212));
static_assert(offsetof(FilterRecord, supportsAlternateLayouts) == (PH64 ? 265 : 213));
static_assert(offsetof(FilterRecord, wantLayout) == (PH64 ? 266 : 214));
static_assert(offsetof(FilterRecord, filterCase) == (PH64 ? 268 : 216));
static_assert(offsetof(FilterRecord, dummyPlaneValue) == (PH64 ? 270 : 218));
static_assert(offsetof(FilterRecord, premiereHook) == (PH64 ? 272 : 220));
static_assert(offsetof(FilterRecord, advanceState) == (PH64 ? 280 : 224));
static_assert(offsetof(FilterRecord, supportsAbsolute) == (PH64 ? 288 : 228));
static_assert(offsetof(FilterRecord, wantsAbsolute) == (PH64 ? 289 : 229));
static_assert(offsetof(FilterRecord, getPropertyObsolete) == (PH64 ? 292 : 232));
static_assert(offsetof(FilterRecord, cannotUndo) == (PH64 ? 300 : 236));
static_assert(offsetof(FilterRecord, supportsPadding) == (PH64 ? 301 : 237));
static_assert(offsetof(FilterRecord, inputPadding) == (PH64 ? 302 : 238));
static_assert(offsetof(FilterRecord, outputPadding) == (PH64 ? 304 : 240));
static_assert(offsetof(FilterRecord, maskPadding) == (PH64 ? 306 : 242));
static_assert(offsetof(FilterRecord, samplingSupport) == (PH64 ? 308 : 244));
static_assert(offsetof(FilterRecord, reservedByte) == (PH64 ? 309 : 245));
static_assert(offsetof(FilterRecord, inputRate) == (PH64 ? 312 : 248));
static_assert(offsetof(FilterRecord, maskRate) == (PH64 ? 316 : 252));
static_assert(offsetof(FilterRecord, colorServices) == (PH64 ? 320 : 256));
static_assert(offsetof(FilterRecord, inLayerPlanes) == (PH64 ? 328 : 260));
static_assert(offsetof(FilterRecord, inTransparencyMask) == (PH64 ? 330 : 262));
static_assert(offsetof(FilterRecord, inLayerMasks) == (PH64 ? 332 : 264));
static_assert(offsetof(FilterRecord, inInvertedLayerMasks) == (PH64 ? 334 : 266));
static_assert(offsetof(FilterRecord, inNonLayerPlanes) == (PH64 ? 336 : 268));
static_assert(offsetof(FilterRecord, outLayerPlanes) == (PH64 ? 338 : 270));
static_assert(offsetof(FilterRecord, outTransparencyMask) == (PH64 ? 340 : 272));
static_assert(offsetof(FilterRecord, outLayerMasks) == (PH64 ? 342 : 274));
static_assert(offsetof(FilterRecord, outInvertedLayerMasks) == (PH64 ? 344 : 276));
static_assert(offsetof(FilterRecord, outNonLayerPlanes) == (PH64 ? 346 : 278));
static_assert(offsetof(FilterRecord, absLayerPlanes) == (PH64 ? 348 : 280));
static_assert(offsetof(FilterRecord, absTransparencyMask) == (PH64 ? 350 : 282));
static_assert(offsetof(FilterRecord, absLayerMasks) == (PH64 ? 352 : 284));
static_assert(offsetof(FilterRecord, absInvertedLayerMasks) == (PH64 ? 354 : 286));
static_assert(offsetof(FilterRecord, absNonLayerPlanes) == (PH64 ? 356 : 288));
static_assert(offsetof(FilterRecord, inPreDummyPlanes) == (PH64 ? 358 : 290));
static_assert(offsetof(FilterRecord, inPostDummyPlanes) == (PH64 ? 360 : 292));
static_assert(offsetof(FilterRecord, outPreDummyPlanes) == (PH64 ? 362 : 294));
static_assert(offsetof(FilterRecord, outPostDummyPlanes) == (PH64 ? 364 : 296));
static_assert(offsetof(FilterRecord, inColumnBytes) == (PH64 ? 368 : 300));
static_assert(offsetof(FilterRecord, inPlaneBytes) == (PH64 ? 372 : 304));
static_assert(offsetof(FilterRecord, outColumnBytes) == (PH64 ? 376 : 308));
static_assert(offsetof(FilterRecord, outPlaneBytes) == (PH64 ? 380 : 312));
static_assert(offsetof(FilterRecord, imageServicesProcs) == (PH64 ? 384 : 316));
static_assert(offsetof(FilterRecord, propertyProcs) == (PH64 ? 392 : 320));
static_assert(offsetof(FilterRecord, inTileHeight) == (PH64 ? 400 : 324));
static_assert(offsetof(FilterRecord, inTileWidth) == (PH64 ? 402 : 326));
static_assert(offsetof(FilterRecord, inTileOrigin) == (PH64 ? 404 : 328));
static_assert(offsetof(FilterRecord, absTileHeight) == (PH64 ? 408 : 332));
static_assert(offsetof(FilterRecord, absTileWidth) == (PH64 ? 410 : 334));
static_assert(offsetof(FilterRecord, absTileOrigin) == (PH64 ? 412 : 336));
static_assert(offsetof(FilterRecord, outTileHeight) == (PH64 ? 416 : 340));
static_assert(offsetof(FilterRecord, outTileWidth) == (PH64 ? 418 : 342));
static_assert(offsetof(FilterRecord, outTileOrigin) == (PH64 ? 420 : 344));
static_assert(offsetof(FilterRecord, maskTileHeight) == (PH64 ? 424 : 348));
static_assert(offsetof(FilterRecord, maskTileWidth) == (PH64 ? 426 : 350));
static_assert(offsetof(FilterRecord, maskTileOrigin) == (PH64 ? 428 : 352));
static_assert(offsetof(FilterRecord, descriptorParameters) == (PH64 ? 432 : 356));
static_assert(offsetof(FilterRecord, errorString) == (PH64 ? 440 : 360));
static_assert(offsetof(FilterRecord, channelPortProcs) == (PH64 ? 448 : 364));
static_assert(offsetof(FilterRecord, documentInfo) == (PH64 ? 456 : 368));
static_assert(offsetof(FilterRecord, sSPBasic) == (PH64 ? 464 : 372));
static_assert(offsetof(FilterRecord, plugInRef) == (PH64 ? 472 : 376));
static_assert(offsetof(FilterRecord, depth) == (PH64 ? 480 : 380));
static_assert(offsetof(FilterRecord, iCCprofileData) == (PH64 ? 484 : 384));
static_assert(offsetof(FilterRecord, iCCprofileSize) == (PH64 ? 492 : 388));
static_assert(offsetof(FilterRecord, canUseICCProfiles) == (PH64 ? 496 : 392));
static_assert(offsetof(FilterRecord, hasImageScrap) == (PH64 ? 500 : 396));
static_assert(offsetof(FilterRecord, bigDocumentData) == (PH64 ? 504 : 400));
static_assert(offsetof(FilterRecord, reserved) == (PH64 ? 512 : 404));
static_assert(sizeof(FilterRecord) == (PH64 ? 560 : 452));

// Fields of later revisions that fall inside the reserved tail or just past
// it; the host leaves them zero, which reads as "not supported".
constexpr size_t FILTER_RECORD_BUFFER_SPACE64_OFFSET = PH64 ? 544 : 424;
constexpr size_t FILTER_RECORD_MAX_SPACE64_OFFSET = PH64 ? 552 : 432;
constexpr size_t FILTER_RECORD_NEWEST_SIZE = PH64 ? 608 : 488;
