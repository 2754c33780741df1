#include "invocation/filter_setup.h"

#include <cmath>
#include <cstring>

#include "engine/advance_state.h"
#include "engine/channel_ports.h"
#include "engine/display_pixels.h"
#include "engine/pixel_buffer.h"
#include "engine/working_copy.h"
#include "call/plugin_records.h"
#include "invocation/recorded_settings.h"
#include "sdk/filter_record.h"
#include "call/job_record.h"
#include "call/plugin_call.h"
#include "services/colour_services.h"
#include "services/descriptor_procs.h"
#include "services/host_services.h"

static int16_t Side16(uint32_t side) {
  return static_cast<int16_t>(side > RECORD_16BIT_SIDE ? RECORD_16BIT_SIDE : side);
}

// The resolution comes from the editor's image block: a value that is not a
// positive number (NaN, infinite, zero, negative) stands for "unknown" and
// becomes the usual 72 dpi; one too large for 16.16 is held at the largest.
int32_t FixedFromResolution(double resolution) {
  if (!(resolution > 0.0) || resolution == HUGE_VAL) return 72 << 16;
  const double fixed = resolution * 65536.0 + 0.5;
  return fixed >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(fixed);
}

static RGBColor ColourFromHost(uint32_t rgb) {
  return RGBColor{static_cast<uint16_t>((rgb >> 16) & 0xFF), static_cast<uint16_t>((rgb >> 8) & 0xFF),
                  static_cast<uint16_t>(rgb & 0xFF)};
}

static FilterColor FilterColourFromHost(uint32_t rgb) {
  return FilterColor{{static_cast<uint8_t>((rgb >> 16) & 0xFF), static_cast<uint8_t>((rgb >> 8) & 0xFF),
                      static_cast<uint8_t>(rgb & 0xFF), 0}};
}

static void FillDocument(ReadImageDocumentDesc* doc, ReadChannelDesc* channels, uint32_t w, uint32_t h, Fixed hres,
                         Fixed vres) {
  memset(doc, 0, sizeof(*doc));
  doc->imageMode = 3;
  doc->depth = 8;
  doc->bounds = VRect{0, 0, static_cast<int32_t>(h), static_cast<int32_t>(w)};
  doc->hResolution = hres;
  doc->vResolution = vres;
  for (int i = 0; i < 256; ++i) doc->redLUT[i] = doc->greenLUT[i] = doc->blueLUT[i] = static_cast<uint8_t>(i);
  static const char* const kNames[4] = {"red", "green", "blue", "alpha"};
  static const int16_t kTypes[4] = {1, 2, 3, 16};
  for (int i = 0; i < 4; ++i) {
    ReadChannelDesc* c = &channels[i];
    memset(c, 0, sizeof(*c));
    c->next = (i < 2) ? &channels[i + 1] : nullptr;
    c->port = reinterpret_cast<PIChannelPort>(static_cast<uintptr_t>(i + 1));
    c->bounds = doc->bounds;
    c->depth = 8;
    c->tileSize = VPoint{static_cast<int32_t>(h), static_cast<int32_t>(w)};
    c->target = 1;
    c->shown = 1;
    c->channelType = kTypes[i];
    c->name = kNames[i];
  }
  doc->targetCompositeChannels = &channels[0];
  doc->targetTransparency = &channels[3];
}

// The working copy's pixels go in the region the last job left when it
// fits, pages already there; a fresh one only when it does not.
static bool ProvideWorkingCopy(TileExchange* tiles, uint32_t w, uint32_t h) {
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(w) * h, uint64_t{4}, &bytes)) return false;
  OwnedBlock* memory = &tiles->workingMemory;
  if (!TakeRegion(memory, bytes, SPARE_WORKING) || !CommitRegion(memory->data, 0, bytes)) {
    ReleaseOwnedBlock(memory);
    return false;
  }
  return AttachPixelMemory(&tiles->working, static_cast<int32_t>(w), static_cast<int32_t>(h), static_cast<int32_t>(w),
                           memory->data) != 0;
}

void ReleaseWorkingCopy(TileExchange* tiles) {
  EndWorkingCopy(tiles);
  ReleasePixelBuffer(&tiles->working);
  RecycleOwnedBlock(&tiles->workingMemory, SPARE_WORKING);
}

int SetUpFilterRecord(PluginCall* call) {
  JobRecord* job = call->job;
  TileExchange* tiles = call->tiles;
  PluginRecords* r = call->records;
  FilterRecord* fr = &r->filter;
  ZeroFilterRecordBlock();
  memset(&r->bigDocument, 0, sizeof(r->bigDocument));
  ResetTileExchange(tiles, fr, FilterRecordShadow(), FILTER_RECORD_BLOCK_BYTES);
  ReleaseWorkingCopy(tiles);
  ReleasePixelBuffer(&tiles->editor);
  if (job->ImageAccessCheck == nullptr || !job->ImageAccessCheck(job)) return 0;
  InstallProgressForwarding(call);

  const uint32_t w = job->width, h = job->height;
  r->platformData.hwnd = static_cast<intptr_t>(job->hostWindow);
  const Fixed hres = FixedFromResolution(job->horizontalResolution);
  const Fixed vres = FixedFromResolution(job->verticalResolution);

  if (job->ImageAccessBegin == nullptr || !job->ImageAccessBegin(job)) return 0;
  // The working copy has the image's full size in memory of our own, its
  // rows filled as they are first written; only when that memory cannot be
  // had does the job fail (out of memory).
  bool built = w <= INT32_MAX && h <= INT32_MAX && job->rowPixels <= INT32_MAX &&
               AttachPixelMemory(&tiles->editor, static_cast<int32_t>(w), static_cast<int32_t>(h),
                                 static_cast<int32_t>(job->rowPixels), job->pixels) &&
               ProvideWorkingCopy(tiles, w, h);
  // Never smaller than the image: that would hand the plug-in part of it.
  built = built && tiles->working.width == w && tiles->working.height == h;
  built = built && BeginWorkingCopy(tiles);
  if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  if (!built) {
    // A working copy that was not completely made must never be copied back
    // over the editor's pixels when the call then restores them.
    ReleaseWorkingCopy(tiles);
    return 0;
  }

  // The 16-bit fields hold at most 32,767: a larger side is held there, not
  // wrapped, and a plug-in that goes on to use them on such an image is
  // refused by advanceState (the 32-bit twins carry the real size).
  const int16_t w16 = Side16(w), h16 = Side16(h);
  fr->serialNumber = 0;
  fr->abortProc = HostTestAbort;
  fr->progressProc = HostProgress;
  fr->parameters = nullptr;
  fr->imageSize = Point{h16, w16};
  fr->planes = 4;
  fr->filterRect = Rect{0, 0, h16, w16};
  fr->background = ColourFromHost(job->background);
  fr->foreground = ColourFromHost(job->foreground);
  fr->maxSpace = 0x40000000;
  fr->bufferSpace = 0x40000000;
  fr->inRect = Rect{0, 0, h16, w16};
  fr->inLoPlane = 0;
  fr->inHiPlane = 3;
  fr->backColor = FilterColourFromHost(job->background);
  fr->foreColor = FilterColourFromHost(job->foreground);
  fr->hostSig = kHostSignature;
  fr->hostProc = NoOpHostProc;
  fr->imageMode = 3;
  fr->imageHRes = hres;
  fr->imageVRes = vres;
  fr->wholeSize = fr->imageSize;
  fr->monitor.gamma = 0;
  Fixed* monitor = &fr->monitor.redX;
  for (int i = 0; i < 9; ++i) monitor[i] = 0x10000;
  fr->platformData = &r->platformData;
  FillBufferProcs(&r->bufferProcs);
  fr->bufferProcs = &r->bufferProcs;
  FillResourceProcs(&r->resourceProcs);
  fr->resourceProcs = &r->resourceProcs;
  fr->processEvent = NoOpProcessEvent;
  fr->displayPixels = DisplayPixels;
  FillHandleProcs(&r->handleProcs);
  fr->handleProcs = &r->handleProcs;
  fr->supportsDummyChannels = 0;
  fr->supportsAlternateLayouts = 1;
  fr->wantLayout = 1;
  fr->filterCase = 4;
  fr->dummyPlaneValue = 0;
  fr->advanceState = AdvanceState;
  fr->supportsAbsolute = 1;
  fr->wantsAbsolute = 0;
  fr->getPropertyObsolete = HostGetProperty;
  fr->cannotUndo = 0;
  fr->supportsPadding = 1;
  fr->samplingSupport = 2;
  fr->inputRate = 0x10000;
  fr->maskRate = 0;
  fr->colorServices = ColorServices;
  fr->inLayerPlanes = fr->outLayerPlanes = fr->absLayerPlanes = 3;
  fr->inTransparencyMask = fr->outTransparencyMask = fr->absTransparencyMask = 1;
  FillImageServicesProcs(&r->imageServicesProcs);
  fr->imageServicesProcs = &r->imageServicesProcs;
  FillPropertyProcs(&r->propertyProcs);
  fr->propertyProcs = &r->propertyProcs;
  fr->inTileHeight = fr->absTileHeight = fr->outTileHeight = h16;
  fr->inTileWidth = fr->absTileWidth = fr->outTileWidth = w16;

  FillWriteDescriptorProcs(&r->writeDescriptorProcs);
  FillReadDescriptorProcs(&r->readDescriptorProcs);
  memset(&r->descriptorParameters, 0, sizeof(r->descriptorParameters));
  r->descriptorParameters.recordInfo = 1;
  r->descriptorParameters.writeDescriptorProcs = &r->writeDescriptorProcs;
  r->descriptorParameters.readDescriptorProcs = &r->readDescriptorProcs;
  fr->descriptorParameters = &r->descriptorParameters;

  memset(r->errorString, 0, sizeof(r->errorString));
  fr->errorString = r->errorString;
  r->channelPortProcs.channelPortProcsVersion = 1;
  r->channelPortProcs.numChannelPortProcs = 3;
  r->channelPortProcs.readPixelsProc = ReadChannelPixels;
  r->channelPortProcs.writeBasePixelsProc = WriteBaseChannelPixels;
  r->channelPortProcs.readPortForWritePortProc = ReadPortForWritePort;
  fr->channelPortProcs = &r->channelPortProcs;
  FillDocument(&r->documentInfo, r->channels, w, h, hres, vres);
  fr->documentInfo = &r->documentInfo;
  FillSPBasic(&r->spBasic);
  fr->sSPBasic = &r->spBasic;
  fr->plugInRef = reinterpret_cast<void*>(1);
  fr->depth = 8;

  BigDocumentStruct* big = &r->bigDocument;
  big->PluginUsing32BitCoordinates = 0;
  big->imageSize32 = VPoint{static_cast<int32_t>(h), static_cast<int32_t>(w)};
  big->filterRect32 = VRect{0, 0, static_cast<int32_t>(h), static_cast<int32_t>(w)};
  big->inRect32 = big->filterRect32;
  big->wholeSize32 = big->imageSize32;
  fr->bigDocumentData = big;
  return OfferSettings(job, r) ? 1 : 0;
}
