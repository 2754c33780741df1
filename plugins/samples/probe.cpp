// Probe: records what a host offers into a text report, one "key value" line
// each, for hosts' tests to compare with what they promise. The report goes
// to the file named by the PLUGHOST_PROBE_REPORT environment variable.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "sdk/filter_record.h"

namespace {

FILE* gReport = nullptr;

void Line(const char* key, long long value) {
  if (gReport != nullptr) fprintf(gReport, "%s %lld\n", key, value);
}

void Text(const char* key, const char* value) {
  if (gReport != nullptr) fprintf(gReport, "%s %s\n", key, value);
}

void Open(const char* mode) {
  char path[MAX_PATH];
  if (GetEnvironmentVariableA("PLUGHOST_PROBE_REPORT", path, MAX_PATH) == 0) return;
  gReport = fopen(path, mode);
}

void Close() {
  if (gReport != nullptr) fclose(gReport);
  gReport = nullptr;
}

void VRectLine(const char* key, const VRect& r) {
  const char* sides[4] = {"top", "left", "bottom", "right"};
  const int32_t values[4] = {r.top, r.left, r.bottom, r.right};
  for (int i = 0; i < 4; ++i) {
    char name[64];
    snprintf(name, sizeof(name), "%s.%s", key, sides[i]);
    Line(name, values[i]);
  }
}

void RectLine(const char* key, const Rect& r) { VRectLine(key, VRect{r.top, r.left, r.bottom, r.right}); }

void RecordFields(const FilterRecord* fr) {
  Line("serialNumber", fr->serialNumber);
  Line("abortProc.set", fr->abortProc != nullptr);
  Line("progressProc.set", fr->progressProc != nullptr);
  Line("parameters", reinterpret_cast<intptr_t>(fr->parameters));
  Line("imageSize.v", fr->imageSize.v);
  Line("imageSize.h", fr->imageSize.h);
  Line("planes", fr->planes);
  RectLine("filterRect", fr->filterRect);
  Line("background.red", fr->background.red);
  Line("background.green", fr->background.green);
  Line("background.blue", fr->background.blue);
  Line("foreground.red", fr->foreground.red);
  Line("foreground.green", fr->foreground.green);
  Line("foreground.blue", fr->foreground.blue);
  Line("maxSpace", fr->maxSpace);
  Line("bufferSpace", fr->bufferSpace);
  RectLine("inRect", fr->inRect);
  Line("inLoPlane", fr->inLoPlane);
  Line("inHiPlane", fr->inHiPlane);
  RectLine("outRect", fr->outRect);
  Line("outLoPlane", fr->outLoPlane);
  Line("outHiPlane", fr->outHiPlane);
  Line("inData", reinterpret_cast<intptr_t>(fr->inData));
  Line("outData", reinterpret_cast<intptr_t>(fr->outData));
  Line("isFloating", fr->isFloating);
  Line("haveMask", fr->haveMask);
  Line("autoMask", fr->autoMask);
  for (int i = 0; i < 4; ++i) {
    char name[32];
    snprintf(name, sizeof(name), "backColor.%d", i);
    Line(name, fr->backColor.bytes[i]);
    snprintf(name, sizeof(name), "foreColor.%d", i);
    Line(name, fr->foreColor.bytes[i]);
  }
  Line("hostSig", fr->hostSig);
  Line("hostProc.set", fr->hostProc != nullptr);
  Line("imageMode", fr->imageMode);
  Line("imageHRes", fr->imageHRes);
  Line("imageVRes", fr->imageVRes);
  Line("floatCoord.v", fr->floatCoord.v);
  Line("wholeSize.v", fr->wholeSize.v);
  Line("wholeSize.h", fr->wholeSize.h);
  Line("monitor.gamma", fr->monitor.gamma);
  Line("monitor.redX", fr->monitor.redX);
  Line("monitor.ambient", fr->monitor.ambient);
  Line("platformData.hwnd", fr->platformData != nullptr ? fr->platformData->hwnd : -1);
  Line("bufferProcs.version", fr->bufferProcs->bufferProcsVersion);
  Line("bufferProcs.count", fr->bufferProcs->numBufferProcs);
  Line("resourceProcs.version", fr->resourceProcs->resourceProcsVersion);
  Line("resourceProcs.count", fr->resourceProcs->numResourceProcs);
  Line("processEvent.set", fr->processEvent != nullptr);
  Line("displayPixels.set", fr->displayPixels != nullptr);
  Line("handleProcs.version", fr->handleProcs->handleProcsVersion);
  Line("handleProcs.count", fr->handleProcs->numHandleProcs);
  Line("supportsDummyChannels", fr->supportsDummyChannels);
  Line("supportsAlternateLayouts", fr->supportsAlternateLayouts);
  Line("wantLayout", fr->wantLayout);
  Line("filterCase", fr->filterCase);
  Line("dummyPlaneValue", fr->dummyPlaneValue);
  Line("advanceState.set", fr->advanceState != nullptr);
  Line("supportsAbsolute", fr->supportsAbsolute);
  Line("wantsAbsolute", fr->wantsAbsolute);
  Line("getPropertyObsolete.set", fr->getPropertyObsolete != nullptr);
  Line("cannotUndo", fr->cannotUndo);
  Line("supportsPadding", fr->supportsPadding);
  Line("inputPadding", fr->inputPadding);
  Line("outputPadding", fr->outputPadding);
  Line("maskPadding", fr->maskPadding);
  Line("samplingSupport", fr->samplingSupport);
  Line("inputRate", fr->inputRate);
  Line("maskRate", fr->maskRate);
  Line("colorServices.set", fr->colorServices != nullptr);
  Line("inLayerPlanes", fr->inLayerPlanes);
  Line("inTransparencyMask", fr->inTransparencyMask);
  Line("outLayerPlanes", fr->outLayerPlanes);
  Line("outTransparencyMask", fr->outTransparencyMask);
  Line("absLayerPlanes", fr->absLayerPlanes);
  Line("absTransparencyMask", fr->absTransparencyMask);
  Line("imageServicesProcs.version", fr->imageServicesProcs->imageServicesProcsVersion);
  Line("imageServicesProcs.count", fr->imageServicesProcs->numImageServicesProcs);
  Line("propertyProcs.version", fr->propertyProcs->propertyProcsVersion);
  Line("propertyProcs.count", fr->propertyProcs->numPropertyProcs);
  Line("inTileHeight", fr->inTileHeight);
  Line("inTileWidth", fr->inTileWidth);
  Line("outTileHeight", fr->outTileHeight);
  Line("absTileWidth", fr->absTileWidth);
  const PIDescriptorParameters* dp = fr->descriptorParameters;
  Line("descriptor.recordInfo", dp->recordInfo);
  Line("descriptor.playInfo", dp->playInfo);
  Line("descriptor.writeCount", dp->writeDescriptorProcs->numWriteDescriptorProcs);
  Line("descriptor.readCount", dp->readDescriptorProcs->numReadDescriptorProcs);
  Line("descriptor.handle", dp->descriptor != nullptr);
  Line("descriptor.openWrite", dp->writeDescriptorProcs->openWriteDescriptorProc() != nullptr);
  Line("errorString.set", fr->errorString != nullptr);
  Line("channelPortProcs.version", fr->channelPortProcs->channelPortProcsVersion);
  Line("channelPortProcs.count", fr->channelPortProcs->numChannelPortProcs);
  const ReadImageDocumentDesc* doc = fr->documentInfo;
  Line("document.imageMode", doc->imageMode);
  Line("document.depth", doc->depth);
  VRectLine("document.bounds", doc->bounds);
  Line("document.redLUT.200", doc->redLUT[200]);
  const char* names[4] = {"red", "green", "blue", "alpha"};
  const ReadChannelDesc* c = doc->targetCompositeChannels;
  for (int i = 0; i < 3 && c != nullptr; ++i, c = c->next) {
    char key[64];
    snprintf(key, sizeof(key), "channel.%s.port", names[i]);
    Line(key, reinterpret_cast<intptr_t>(c->port));
    snprintf(key, sizeof(key), "channel.%s.type", names[i]);
    Line(key, c->channelType);
    snprintf(key, sizeof(key), "channel.%s.name", names[i]);
    Text(key, c->name);
  }
  Line("channel.alpha.port", reinterpret_cast<intptr_t>(doc->targetTransparency->port));
  Line("channel.alpha.type", doc->targetTransparency->channelType);
  Text("channel.alpha.name", doc->targetTransparency->name);
  Line("sSPBasic.set", fr->sSPBasic != nullptr);
  Line("plugInRef", reinterpret_cast<intptr_t>(fr->plugInRef));
  Line("depth", fr->depth);
  const BigDocumentStruct* big = fr->bigDocumentData;
  Line("big.using32", big->PluginUsing32BitCoordinates);
  Line("big.imageSize32.v", big->imageSize32.v);
  Line("big.imageSize32.h", big->imageSize32.h);
  VRectLine("big.inRect32", big->inRect32);
  VRectLine("big.outRect32", big->outRect32);
  // Newer plug-ins read past the published end: it must read as zero.
  const uint8_t* tail = reinterpret_cast<const uint8_t*>(fr) + sizeof(FilterRecord) - 46 - 2;
  int nonZero = 0;
  for (int i = 0; i < 46 + 2 + 48; ++i) nonZero += tail[i] != 0;
  Line("reservedTail.nonZero", nonZero);
}

void RecordServices(FilterRecord* fr) {
  // Properties.
  intptr_t simple = 0;
  Handle complex = nullptr;
  const uint32_t keys[] = {FourCC("docW"), FourCC("docH"), FourCC("mode"), FourCC("nuch"), FourCC("vers"), FourCC("capt")};
  const char* names[] = {"property.docW", "property.docH", "property.mode", "property.nuch", "property.vers", "property.capt"};
  for (int i = 0; i < 6; ++i) {
    simple = -1;
    OSErr err = fr->propertyProcs->getPropertyProc(kHostSignature, keys[i], 0, &simple, &complex);
    Line(names[i], err == noErr ? static_cast<int32_t>(simple) : err);
  }
  complex = nullptr;
  if (fr->propertyProcs->getPropertyProc(kHostSignature, FourCC("titl"), 0, &simple, &complex) == noErr &&
      complex != nullptr) {
    int32_t size = fr->handleProcs->getSizeProc(complex);
    char text[64] = {};
    memcpy(text, *complex, size < 63 ? size : 63);
    Text("property.titl", text);
    Line("property.titl.size", size);
    fr->handleProcs->disposeProc(complex);
  }
  // Handles.
  Handle h = fr->handleProcs->newProc(10);
  Ptr p = fr->handleProcs->lockProc(h, 0);
  Line("handle.derefIsLock", *h == p);
  memcpy(p, "0123456789", 10);
  Line("handle.resize", fr->handleProcs->setSizeProc(h, 100));
  Line("handle.size", fr->handleProcs->getSizeProc(h));
  Line("handle.kept", memcmp(*h, "0123456789", 10) == 0);
  fr->handleProcs->disposeProc(h);
  // Suites.
  const void* suite = nullptr;
  SPBasicSuite* basic = fr->sSPBasic;
  Line("suite.blocks.2", basic->AcquireSuite("SP Blocks Suite", 2, &suite));
  Line("suite.blocks.3", basic->AcquireSuite("SP Blocks Suite", 3, &suite));
  Line("suite.buffer.1", basic->AcquireSuite("Photoshop Buffer Suite for Plug-ins", 1, &suite));
  Line("suite.uihooks.3", basic->AcquireSuite("Photoshop UIHooks Suite for Plug-ins", 3, &suite));
  Line("suite.adm", basic->AcquireSuite("ADM Basic Suite", 1, &suite));
}

}  // namespace

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, void* block, intptr_t* data, int16_t* result) {
  *result = noErr;
  if (selector == filterSelectorAbout) {
    Open("w");
    const AboutRecord* about = static_cast<const AboutRecord*>(block);
    Line("about.hwnd", about->platformData != nullptr ? about->platformData->hwnd : -1);
    Line("about.plugInRef", reinterpret_cast<intptr_t>(about->plugInRef));
    Line("about.sSPBasic.set", about->sSPBasic != nullptr);
    Line("about.data", *data);
    Close();
    *data = 77;  // a host must not keep this for the next call
    return;
  }
  FilterRecord* fr = static_cast<FilterRecord*>(block);
  if (selector == filterSelectorParameters) {
    Open("w");
    Line("selector.parameters.data", *data);
    RecordFields(fr);
    RecordServices(fr);
    Close();
    // Leave things behind that the next call must not see.
    fr->parameters = fr->handleProcs->newProc(16);
    fr->inRect = Rect{1, 2, 3, 4};
    fr->wantLayout = 5;
    *data = 1234;
    return;
  }
  if (selector == filterSelectorStart) {
    fr->inRect = fr->outRect = Rect{0, 0, 0, 0};
  }
}
