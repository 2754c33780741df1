// Callback procedures and the version/count-headed procedure records of the
// published plug-in interface. Each record opens with its 16-bit version and
// 16-bit count; the procedures follow at the next pointer boundary and only
// ever grow at the end.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"
#include "sdk/layout.h"

// Declared by the image engine and colour services; only their addresses pass here.
struct PSPixelMap;
struct ColorServicesInfo;

// Opaque tokens the host hands out.
struct BufferToken;
using BufferID = BufferToken*;
struct ChannelPortToken;
using PIChannelPort = ChannelPortToken*;
struct WriteDescriptorToken;
using PIWriteDescriptor = WriteDescriptorToken*;
struct ReadDescriptorToken;
using PIReadDescriptor = ReadDescriptorToken*;

using ResType = uint32_t;
using DescriptorKeyID = uint32_t;
using DescriptorTypeID = uint32_t;
using DescriptorClassID = uint32_t;
using DescriptorUnitID = uint32_t;
using DescriptorEnumID = uint32_t;
using DescriptorEnumTypeID = uint32_t;
using DescriptorKeyIDArray = uint32_t*;

// FilterRecord callbacks.
using TestAbortProc = Boolean (*)();
using ProgressProc = void (*)(int32_t done, int32_t total);
using HostProc = void (*)(int16_t selector, intptr_t* data);
using ProcessEventProc = void (*)(void* event);
using DisplayPixelsProc = OSErr (*)(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow, int32_t dstCol,
                                    void* platformContext);
using AdvanceStateProc = OSErr (*)();
using ColorServicesProc = OSErr (*)(ColorServicesInfo* info);
using GetPropertyProc = OSErr (*)(OSType signature, OSType key, int32_t index, intptr_t* simpleProperty,
                                  Handle* complexProperty);
using SetPropertyProc = OSErr (*)(OSType signature, OSType key, int32_t index, intptr_t simpleProperty,
                                  Handle complexProperty);

// Buffers.
using AllocateBufferProc = OSErr (*)(int32_t size, BufferID* bufferID);
using LockBufferProc = Ptr (*)(BufferID bufferID, Boolean moveHigh);
using UnlockBufferProc = void (*)(BufferID bufferID);
using FreeBufferProc = void (*)(BufferID bufferID);
using BufferSpaceProc = int32_t (*)();
using ReserveBufferSpaceProc = OSErr (*)(int32_t size);
using AllocateBuffer64Proc = OSErr (*)(int64_t size, BufferID* bufferID);
using BufferSpace64Proc = int64_t (*)();

struct BufferProcs {
  int16_t bufferProcsVersion;
  int16_t numBufferProcs;
  AllocateBufferProc allocateProc;        // 0
  LockBufferProc lockProc;                // 1
  UnlockBufferProc unlockProc;            // 2
  FreeBufferProc freeProc;                // 3
  BufferSpaceProc spaceProc;              // 4
  ReserveBufferSpaceProc reserveProc;     // 5
  AllocateBuffer64Proc allocateProc64;    // 6
  BufferSpace64Proc spaceProc64;          // 7
};
static_assert(offsetof(BufferProcs, numBufferProcs) == 2);
static_assert(offsetof(BufferProcs, allocateProc) == (PH64 ? 8 : 4));
static_assert(offsetof(BufferProcs, spaceProc) == (PH64 ? 40 : 20));
static_assert(offsetof(BufferProcs, spaceProc64) == (PH64 ? 64 : 32));
static_assert(sizeof(BufferProcs) == (PH64 ? 72 : 36));

// Resources.
using CountPIResourcesProc = int16_t (*)(ResType type);
using GetPIResourceProc = Handle (*)(ResType type, int16_t index);
using DeletePIResourceProc = void (*)(ResType type, int16_t index);
using AddPIResourceProc = OSErr (*)(ResType type, Handle data);

struct ResourceProcs {
  int16_t resourceProcsVersion;
  int16_t numResourceProcs;
  CountPIResourcesProc countProc;    // 0
  GetPIResourceProc getProc;         // 1
  DeletePIResourceProc deleteProc;   // 2
  AddPIResourceProc addProc;         // 3
};
static_assert(offsetof(ResourceProcs, countProc) == (PH64 ? 8 : 4));
static_assert(offsetof(ResourceProcs, addProc) == (PH64 ? 32 : 16));
static_assert(sizeof(ResourceProcs) == (PH64 ? 40 : 20));

// Handles.
using NewPIHandleProc = Handle (*)(int32_t size);
using DisposePIHandleProc = void (*)(Handle h);
using GetPIHandleSizeProc = int32_t (*)(Handle h);
using SetPIHandleSizeProc = OSErr (*)(Handle h, int32_t newSize);
using LockPIHandleProc = Ptr (*)(Handle h, Boolean moveHigh);
using UnlockPIHandleProc = void (*)(Handle h);
using RecoverSpaceProc = void (*)(int32_t size);
using DisposeRegularHandlePIHandleProc = void (*)(Handle h);

struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  NewPIHandleProc newProc;                                    // 0
  DisposePIHandleProc disposeProc;                            // 1
  GetPIHandleSizeProc getSizeProc;                            // 2
  SetPIHandleSizeProc setSizeProc;                            // 3
  LockPIHandleProc lockProc;                                  // 4
  UnlockPIHandleProc unlockProc;                              // 5
  RecoverSpaceProc recoverSpaceProc;                          // 6
  DisposeRegularHandlePIHandleProc disposeRegularHandleProc;  // 7
};
static_assert(offsetof(HandleProcs, newProc) == (PH64 ? 8 : 4));
static_assert(offsetof(HandleProcs, lockProc) == (PH64 ? 40 : 20));
static_assert(offsetof(HandleProcs, disposeRegularHandleProc) == (PH64 ? 64 : 32));
static_assert(sizeof(HandleProcs) == (PH64 ? 72 : 36));

// Properties.
struct PropertyProcs {
  int16_t propertyProcsVersion;
  int16_t numPropertyProcs;
  GetPropertyProc getPropertyProc;  // 0
  SetPropertyProc setPropertyProc;  // 1
};
static_assert(offsetof(PropertyProcs, getPropertyProc) == (PH64 ? 8 : 4));
static_assert(offsetof(PropertyProcs, setPropertyProc) == (PH64 ? 16 : 8));
static_assert(sizeof(PropertyProcs) == (PH64 ? 24 : 12));

// Image services: the planes their interpolation procedures work on.
struct PSImagePlane {
  void* data;
  Rect bounds;
  int32_t rowBytes;
  int32_t colBytes;
};
static_assert(offsetof(PSImagePlane, bounds) == (PH64 ? 8 : 4));
static_assert(offsetof(PSImagePlane, rowBytes) == (PH64 ? 16 : 12));
static_assert(offsetof(PSImagePlane, colBytes) == (PH64 ? 20 : 16));
static_assert(sizeof(PSImagePlane) == (PH64 ? 24 : 20));

struct PSImageMultiPlane {
  void* data;
  Rect bounds;
  int32_t rowBytes;
  int32_t colBytes;
  int16_t activeChannels;
};
static_assert(offsetof(PSImageMultiPlane, activeChannels) == (PH64 ? 24 : 20));
static_assert(sizeof(PSImageMultiPlane) == (PH64 ? 32 : 24));

struct PSImageMultiPlane32 {
  void* data;
  VRect bounds;
  int32_t rowBytes;
  int32_t colBytes;
  int16_t activeChannels;
  int16_t depth;
};
static_assert(offsetof(PSImageMultiPlane32, bounds) == (PH64 ? 8 : 4));
static_assert(offsetof(PSImageMultiPlane32, rowBytes) == (PH64 ? 24 : 20));
static_assert(offsetof(PSImageMultiPlane32, colBytes) == (PH64 ? 28 : 24));
static_assert(offsetof(PSImageMultiPlane32, activeChannels) == (PH64 ? 32 : 28));
static_assert(offsetof(PSImageMultiPlane32, depth) == (PH64 ? 34 : 30));
static_assert(sizeof(PSImageMultiPlane32) == (PH64 ? 40 : 32));

using PIResampleProc = OSErr (*)(PSImagePlane* source, PSImagePlane* destination, Rect* area, Fixed* coords,
                                 int16_t method);
using PIResampleMultiProc = OSErr (*)(PSImageMultiPlane* source, PSImageMultiPlane* destination, Rect* area,
                                      Fixed* coords, int16_t method);
using PIResampleMulti32Proc = OSErr (*)(PSImageMultiPlane32* source, PSImageMultiPlane32* destination, VRect* area,
                                        int64_t* coords, int16_t method);

struct ImageServicesProcs {
  int16_t imageServicesProcsVersion;
  int16_t numImageServicesProcs;
  PIResampleProc interpolate1DProc;                // 0
  PIResampleProc interpolate2DProc;                // 1
  PIResampleMultiProc interpolate1DMultiProc;      // 2
  PIResampleMultiProc interpolate2DMultiProc;      // 3
  PIResampleMulti32Proc interpolate1DMulti32Proc;  // 4
  PIResampleMulti32Proc interpolate2DMulti32Proc;  // 5
};
static_assert(offsetof(ImageServicesProcs, interpolate1DProc) == (PH64 ? 8 : 4));
static_assert(offsetof(ImageServicesProcs, interpolate2DMulti32Proc) == (PH64 ? 48 : 24));
static_assert(sizeof(ImageServicesProcs) == (PH64 ? 56 : 28));

// Channel ports.
struct PSScaling {
  VRect sourceRect;
  VRect destinationRect;
};
static_assert(offsetof(PSScaling, destinationRect) == 16);
static_assert(sizeof(PSScaling) == 32);

struct PixelMemoryDesc {
  void* data;
  int32_t rowBits;
  int32_t colBits;
  int32_t bitOffset;
  int32_t depth;
};
static_assert(offsetof(PixelMemoryDesc, rowBits) == (PH64 ? 8 : 4));
static_assert(offsetof(PixelMemoryDesc, colBits) == (PH64 ? 12 : 8));
static_assert(offsetof(PixelMemoryDesc, bitOffset) == (PH64 ? 16 : 12));
static_assert(offsetof(PixelMemoryDesc, depth) == (PH64 ? 20 : 16));
static_assert(sizeof(PixelMemoryDesc) == (PH64 ? 24 : 20));

using ReadPixelsProc = OSErr (*)(PIChannelPort port, const PSScaling* scaling, const VRect* writeRect,
                                 const PixelMemoryDesc* destination, VRect* wroteRect);
using WriteBasePixelsProc = OSErr (*)(PIChannelPort port, const VRect* writeRect, const PixelMemoryDesc* source);
using ReadPortForWritePortProc = OSErr (*)(PIChannelPort* readPort, PIChannelPort writePort);

struct ChannelPortProcs {
  int16_t channelPortProcsVersion;
  int16_t numChannelPortProcs;
  ReadPixelsProc readPixelsProc;                      // 0
  WriteBasePixelsProc writeBasePixelsProc;            // 1
  ReadPortForWritePortProc readPortForWritePortProc;  // 2
};
static_assert(offsetof(ChannelPortProcs, readPixelsProc) == (PH64 ? 8 : 4));
static_assert(offsetof(ChannelPortProcs, readPortForWritePortProc) == (PH64 ? 24 : 12));
static_assert(sizeof(ChannelPortProcs) == (PH64 ? 32 : 16));

// Descriptors (scripting parameters).
struct PIDescriptorSimpleReference {
  DescriptorClassID desiredClass;
  DescriptorKeyID keyForm;
  struct {
    Str255 name;
    int32_t index;
    DescriptorTypeID type;
    DescriptorEnumID value;
  } keyData;
};
static_assert(offsetof(PIDescriptorSimpleReference, keyForm) == 4);
static_assert(offsetof(PIDescriptorSimpleReference, keyData.name) == 8);
static_assert(offsetof(PIDescriptorSimpleReference, keyData.index) == 264);
static_assert(offsetof(PIDescriptorSimpleReference, keyData.type) == 268);
static_assert(offsetof(PIDescriptorSimpleReference, keyData.value) == 272);
static_assert(sizeof(PIDescriptorSimpleReference) == 276);

using OpenWriteDescriptorProc = PIWriteDescriptor (*)();
using CloseWriteDescriptorProc = OSErr (*)(PIWriteDescriptor descriptor, Handle* newDescriptor);
using PutIntegerProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, int32_t value);
using PutFloatProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, const double* value);
using PutUnitFloatProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, DescriptorUnitID unit,
                                   const double* value);
using PutBooleanProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, Boolean value);
using PutTextProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, Handle textHandle);
using PutAliasProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, Handle aliasHandle);
using PutEnumeratedProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID type,
                                    DescriptorEnumID value);
using PutClassProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID type);
using PutSimpleReferenceProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key,
                                         const PIDescriptorSimpleReference* reference);
using PutObjectProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID type,
                                Handle descriptorHandle);
using PutCountProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, uint32_t count);
using PutStringProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, const uint8_t* pascalString);
using PutScopedClassProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID type);
using PutScopedObjectProc = OSErr (*)(PIWriteDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID type,
                                      Handle descriptorHandle);

struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  OpenWriteDescriptorProc openWriteDescriptorProc;    // 0
  CloseWriteDescriptorProc closeWriteDescriptorProc;  // 1
  PutIntegerProc putIntegerProc;                      // 2
  PutFloatProc putFloatProc;                          // 3
  PutUnitFloatProc putUnitFloatProc;                  // 4
  PutBooleanProc putBooleanProc;                      // 5
  PutTextProc putTextProc;                            // 6
  PutAliasProc putAliasProc;                          // 7
  PutEnumeratedProc putEnumeratedProc;                // 8
  PutClassProc putClassProc;                          // 9
  PutSimpleReferenceProc putSimpleReferenceProc;      // 10
  PutObjectProc putObjectProc;                        // 11
  PutCountProc putCountProc;                          // 12
  PutStringProc putStringProc;                        // 13
  PutScopedClassProc putScopedClassProc;              // 14
  PutScopedObjectProc putScopedObjectProc;            // 15
};
static_assert(offsetof(WriteDescriptorProcs, openWriteDescriptorProc) == (PH64 ? 8 : 4));
static_assert(offsetof(WriteDescriptorProcs, putStringProc) == (PH64 ? 112 : 56));
static_assert(offsetof(WriteDescriptorProcs, putScopedObjectProc) == (PH64 ? 128 : 64));
static_assert(sizeof(WriteDescriptorProcs) == (PH64 ? 136 : 68));

using OpenReadDescriptorProc = PIReadDescriptor (*)(Handle descriptorHandle, DescriptorKeyIDArray keyArray);
using CloseReadDescriptorProc = OSErr (*)(PIReadDescriptor descriptor);
using GetKeyProc = Boolean (*)(PIReadDescriptor descriptor, DescriptorKeyID* key, DescriptorTypeID* type,
                               int32_t* flags);
using GetIntegerProc = OSErr (*)(PIReadDescriptor descriptor, int32_t* value);
using GetFloatProc = OSErr (*)(PIReadDescriptor descriptor, double* value);
using GetUnitFloatProc = OSErr (*)(PIReadDescriptor descriptor, DescriptorUnitID* unit, double* value);
using GetBooleanProc = OSErr (*)(PIReadDescriptor descriptor, Boolean* value);
using GetTextProc = OSErr (*)(PIReadDescriptor descriptor, Handle* textHandle);
using GetAliasProc = OSErr (*)(PIReadDescriptor descriptor, Handle* aliasHandle);
using GetEnumeratedProc = OSErr (*)(PIReadDescriptor descriptor, DescriptorEnumID* value);
using GetClassProc = OSErr (*)(PIReadDescriptor descriptor, DescriptorTypeID* type);
using GetSimpleReferenceProc = OSErr (*)(PIReadDescriptor descriptor, PIDescriptorSimpleReference* reference);
using GetObjectProc = OSErr (*)(PIReadDescriptor descriptor, DescriptorTypeID* type, Handle* descriptorHandle);
using GetCountProc = OSErr (*)(PIReadDescriptor descriptor, uint32_t* count);
using GetStringProc = OSErr (*)(PIReadDescriptor descriptor, Str255* pascalString);
using GetPinnedIntegerProc = OSErr (*)(PIReadDescriptor descriptor, int32_t min, int32_t max, int32_t* value);
using GetPinnedFloatProc = OSErr (*)(PIReadDescriptor descriptor, const double* min, const double* max,
                                     double* value);
using GetPinnedUnitFloatProc = OSErr (*)(PIReadDescriptor descriptor, const double* min, const double* max,
                                         DescriptorUnitID* unit, double* value);

struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  OpenReadDescriptorProc openReadDescriptorProc;    // 0
  CloseReadDescriptorProc closeReadDescriptorProc;  // 1
  GetKeyProc getKeyProc;                            // 2
  GetIntegerProc getIntegerProc;                    // 3
  GetFloatProc getFloatProc;                        // 4
  GetUnitFloatProc getUnitFloatProc;                // 5
  GetBooleanProc getBooleanProc;                    // 6
  GetTextProc getTextProc;                          // 7
  GetAliasProc getAliasProc;                        // 8
  GetEnumeratedProc getEnumeratedProc;              // 9
  GetClassProc getClassProc;                        // 10
  GetSimpleReferenceProc getSimpleReferenceProc;    // 11
  GetObjectProc getObjectProc;                      // 12
  GetCountProc getCountProc;                        // 13
  GetStringProc getStringProc;                      // 14
  GetPinnedIntegerProc getPinnedIntegerProc;        // 15
  GetPinnedFloatProc getPinnedFloatProc;            // 16
  GetPinnedUnitFloatProc getPinnedUnitFloatProc;    // 17
};
static_assert(offsetof(ReadDescriptorProcs, openReadDescriptorProc) == (PH64 ? 8 : 4));
static_assert(offsetof(ReadDescriptorProcs, getStringProc) == (PH64 ? 120 : 60));
static_assert(offsetof(ReadDescriptorProcs, getPinnedUnitFloatProc) == (PH64 ? 144 : 72));
static_assert(sizeof(ReadDescriptorProcs) == (PH64 ? 152 : 76));

struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;    // 0 don't display, 1 display, 2 silent
  int16_t recordInfo;  // 0 optional, 1 required, 2 none
  Handle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};
static_assert(offsetof(PIDescriptorParameters, playInfo) == 2);
static_assert(offsetof(PIDescriptorParameters, recordInfo) == 4);
static_assert(offsetof(PIDescriptorParameters, descriptor) == 8);
static_assert(offsetof(PIDescriptorParameters, writeDescriptorProcs) == (PH64 ? 16 : 12));
static_assert(offsetof(PIDescriptorParameters, readDescriptorProcs) == (PH64 ? 24 : 16));
static_assert(sizeof(PIDescriptorParameters) == (PH64 ? 32 : 20));
