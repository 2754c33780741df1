// The document descriptions a filter may read: the 32-bit coordinates of big
// documents and the channel list with its ports.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"
#include "sdk/layout.h"
#include "sdk/procs.h"

#pragma pack(push, 4)
struct BigDocumentStruct {
  int32_t PluginUsing32BitCoordinates;
  VPoint imageSize32;
  VRect filterRect32;
  VRect inRect32;
  VRect outRect32;
  VRect maskRect32;
  VPoint floatCoord32;
  VPoint wholeSize32;
};
#pragma pack(pop)
static_assert(offsetof(BigDocumentStruct, imageSize32) == 4);
static_assert(offsetof(BigDocumentStruct, filterRect32) == 12);
static_assert(offsetof(BigDocumentStruct, inRect32) == 28);
static_assert(offsetof(BigDocumentStruct, outRect32) == 44);
static_assert(offsetof(BigDocumentStruct, maskRect32) == 60);
static_assert(offsetof(BigDocumentStruct, floatCoord32) == 76);
static_assert(offsetof(BigDocumentStruct, wholeSize32) == 84);
static_assert(sizeof(BigDocumentStruct) == 92);

struct ReadChannelDesc {
  int32_t minVersion;
  int32_t maxVersion;
  ReadChannelDesc* next;
  PIChannelPort port;
  VRect bounds;
  int32_t depth;
  VPoint tileSize;
  VPoint tileOrigin;
  Boolean target;
  Boolean shown;
  int16_t channelType;
  void* contextInfo;
  const char* name;
  PIChannelPort writePort;  // version 1
  uint32_t alphaID;         // version 2
  const uint16_t* unicodeName;  // version 3
  Boolean isEnabled;        // version 4
  VRect limitBounds;        // version 5
};
static_assert(offsetof(ReadChannelDesc, maxVersion) == 4);
static_assert(offsetof(ReadChannelDesc, next) == 8);
static_assert(offsetof(ReadChannelDesc, port) == (PH64 ? 16 : 12));
static_assert(offsetof(ReadChannelDesc, bounds) == (PH64 ? 24 : 16));
static_assert(offsetof(ReadChannelDesc, depth) == (PH64 ? 40 : 32));
static_assert(offsetof(ReadChannelDesc, tileSize) == (PH64 ? 44 : 36));
static_assert(offsetof(ReadChannelDesc, tileOrigin) == (PH64 ? 52 : 44));
static_assert(offsetof(ReadChannelDesc, target) == (PH64 ? 60 : 52));
static_assert(offsetof(ReadChannelDesc, shown) == (PH64 ? 61 : 53));
static_assert(offsetof(ReadChannelDesc, channelType) == (PH64 ? 62 : 54));
static_assert(offsetof(ReadChannelDesc, contextInfo) == (PH64 ? 64 : 56));
static_assert(offsetof(ReadChannelDesc, name) == (PH64 ? 72 : 60));
static_assert(offsetof(ReadChannelDesc, writePort) == (PH64 ? 80 : 64));
static_assert(offsetof(ReadChannelDesc, alphaID) == (PH64 ? 88 : 68));
static_assert(offsetof(ReadChannelDesc, unicodeName) == (PH64 ? 96 : 72));
static_assert(offsetof(ReadChannelDesc, isEnabled) == (PH64 ? 104 : 76));
static_assert(offsetof(ReadChannelDesc, limitBounds) == (PH64 ? 108 : 80));
static_assert(sizeof(ReadChannelDesc) == (PH64 ? 128 : 96));

struct ReadImageDocumentDesc {
  int32_t minVersion;
  int32_t maxVersion;
  int32_t imageMode;
  int32_t depth;
  VRect bounds;
  Fixed hResolution;
  Fixed vResolution;
  uint8_t redLUT[256];
  uint8_t greenLUT[256];
  uint8_t blueLUT[256];
  ReadChannelDesc* targetCompositeChannels;
  ReadChannelDesc* targetTransparency;
  ReadChannelDesc* targetLayerMask;
  ReadChannelDesc* mergedCompositeChannels;
  ReadChannelDesc* mergedTransparency;
  ReadChannelDesc* alphaChannels;
  ReadChannelDesc* selection;
  void* fileSpec;                          // version 1
  void* layersDescriptor;                  // version 2
  int32_t documentType;                    // version 2
  ReadImageDocumentDesc* next;             // version 2
  void* iCCprofileData;                    // version 3
  int32_t iCCprofileSize;                  // version 3
  int32_t compositeChannelCount;           // version 3
  int32_t layerCount;                      // version 3
  int32_t alphaChannelCount;               // version 3
  ReadChannelDesc* targetSmartFilterMask;  // version 4
  void* fileSpecW;                         // version 5
  void* fileSpecX;                         // version 6
};
static_assert(offsetof(ReadImageDocumentDesc, imageMode) == 8);
static_assert(offsetof(ReadImageDocumentDesc, depth) == 12);
static_assert(offsetof(ReadImageDocumentDesc, bounds) == 16);
static_assert(offsetof(ReadImageDocumentDesc, hResolution) == 32);
static_assert(offsetof(ReadImageDocumentDesc, vResolution) == 36);
static_assert(offsetof(ReadImageDocumentDesc, redLUT) == 40);
static_assert(offsetof(ReadImageDocumentDesc, greenLUT) == 296);
static_assert(offsetof(ReadImageDocumentDesc, blueLUT) == 552);
static_assert(offsetof(ReadImageDocumentDesc, targetCompositeChannels) == 808);
static_assert(offsetof(ReadImageDocumentDesc, targetTransparency) == (PH64 ? 816 : 812));
static_assert(offsetof(ReadImageDocumentDesc, targetLayerMask) == (PH64 ? 824 : 816));
static_assert(offsetof(ReadImageDocumentDesc, mergedCompositeChannels) == (PH64 ? 832 : 820));
static_assert(offsetof(ReadImageDocumentDesc, mergedTransparency) == (PH64 ? 840 : 824));
static_assert(offsetof(ReadImageDocumentDesc, alphaChannels) == (PH64 ? 848 : 828));
static_assert(offsetof(ReadImageDocumentDesc, selection) == (PH64 ? 856 : 832));
static_assert(offsetof(ReadImageDocumentDesc, fileSpec) == (PH64 ? 864 : 836));
static_assert(offsetof(ReadImageDocumentDesc, layersDescriptor) == (PH64 ? 872 : 840));
static_assert(offsetof(ReadImageDocumentDesc, documentType) == (PH64 ? 880 : 844));
static_assert(offsetof(ReadImageDocumentDesc, next) == (PH64 ? 888 : 848));
static_assert(offsetof(ReadImageDocumentDesc, iCCprofileData) == (PH64 ? 896 : 852));
static_assert(offsetof(ReadImageDocumentDesc, iCCprofileSize) == (PH64 ? 904 : 856));
static_assert(offsetof(ReadImageDocumentDesc, compositeChannelCount) == (PH64 ? 908 : 860));
static_assert(offsetof(ReadImageDocumentDesc, layerCount) == (PH64 ? 912 : 864));
static_assert(offsetof(ReadImageDocumentDesc, alphaChannelCount) == (PH64 ? 916 : 868));
static_assert(offsetof(ReadImageDocumentDesc, targetSmartFilterMask) == (PH64 ? 920 : 872));
static_assert(offsetof(ReadImageDocumentDesc, fileSpecW) == (PH64 ? 928 : 876));
static_assert(offsetof(ReadImageDocumentDesc, fileSpecX) == (PH64 ? 936 : 880));
static_assert(sizeof(ReadImageDocumentDesc) == (PH64 ? 944 : 884));
