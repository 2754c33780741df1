#include "services/colour_services.h"

#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "call/job_record.h"
#include "call/plugin_call.h"
#include "base/guard.h"
#include "services/colour_convert.h"

namespace {

// What the service reads of the plug-in's record, copied once under the guard
// so that a bad pointer becomes a result instead of a fault.
struct ColourRequest {
  int32_t infoSize;
  int16_t selector;
  int16_t sourceSpace;
  int16_t resultSpace;
  int16_t components[4];
  const Point* samplePoint;
  int32_t specialColorID;
};

bool ReadRequest(const ColorServicesInfo* info, ColourRequest* request) {
  return Guarded([&] {
           request->infoSize = info->infoSize;
           request->selector = info->selector;
           request->sourceSpace = info->sourceSpace;
           request->resultSpace = info->resultSpace;
           for (int i = 0; i < 4; ++i) request->components[i] = info->colorComponents[i];
           request->samplePoint = info->selectorParameter.globalSamplePoint;
           request->specialColorID = info->selectorParameter.specialColorID;
         }) != 0;
}

bool WriteComponents(ColorServicesInfo* info, const int16_t components[4]) {
  return Guarded([&] {
           for (int i = 0; i < 4; ++i) info->colorComponents[i] = components[i];
         }) != 0;
}

OSErr ChooseWithDialog(uint32_t* colour) {
  JobRecord* job = CurrentCall()->job;
  COLORREF custom[16];
  for (COLORREF& slot : custom) slot = RGB(255, 255, 255);
  CHOOSECOLORW dialog;
  std::memset(&dialog, 0, sizeof dialog);
  dialog.lStructSize = sizeof dialog;
  // The editor's window owns the dialog, so that it stays modal to the editor.
  dialog.hwndOwner = job != nullptr ? reinterpret_cast<HWND>(job->hostWindow) : nullptr;
  dialog.rgbResult = RGB((*colour >> 16) & 0xFF, (*colour >> 8) & 0xFF, *colour & 0xFF);
  dialog.lpCustColors = custom;
  dialog.Flags = CC_RGBINIT | CC_FULLOPEN;
  // Windows answers 0 for a cancel or a failure, but Wine without a display
  // answers -1 at once: only TRUE is a choice the user made.
  if (ChooseColorW(&dialog) != TRUE) return paramErr;
  const COLORREF chosen = dialog.rgbResult;
  *colour = (*colour & 0xFF000000u) | (static_cast<uint32_t>(GetRValue(chosen)) << 16) |
            (static_cast<uint32_t>(GetGValue(chosen)) << 8) | GetBValue(chosen);
  return noErr;
}

OSErr SamplePoint(const Point* where, uint32_t* colour) {
  JobRecord* job = CurrentCall()->job;
  if (job == nullptr || job->pixels == nullptr) return nilHandleErr;
  Point point{};
  if (where == nullptr || Guarded([&] { point = *where; }) == 0) return paramErr;
  if (point.h < 0 || point.v < 0 || static_cast<uint32_t>(point.h) >= job->width ||
      static_cast<uint32_t>(point.v) >= job->height) {
    return errInvalidSamplePoint;
  }
  if (job->ImageAccessCheck == nullptr || job->ImageAccessCheck(job) == 0) return nilHandleErr;
  if (job->ImageAccessBegin == nullptr || job->ImageAccessBegin(job) == 0) return memFullErr;
  const uint64_t index = static_cast<uint64_t>(job->rowPixels) * static_cast<uint64_t>(point.v) +
                         static_cast<uint64_t>(point.h);
  uint32_t pixel;
  std::memcpy(&pixel, job->pixels + index * 4, sizeof pixel);
  if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  *colour = pixel;  // memory order B, G, R, A reads as 0xAARRGGBB
  return noErr;
}

OSErr SpecialColour(int32_t id, uint32_t* colour) {
  if (id != plugIncolorServicesForegroundColor && id != plugIncolorServicesBackgroundColor) return noErr;
  JobRecord* job = CurrentCall()->job;
  if (job == nullptr) return nilHandleErr;
  *colour = id == plugIncolorServicesForegroundColor ? job->foreground : job->background;
  return noErr;
}

}  // namespace

int16_t ColorServices(ColorServicesInfo* info) {
  if (info == nullptr) return paramErr;
  ColourRequest request;
  if (!ReadRequest(info, &request)) return paramErr;
  if (request.infoSize > static_cast<int32_t>(sizeof(ColorServicesInfo))) return errPlugInHostInsufficient;
  if (!IsServedColourSpace(request.sourceSpace)) return errPlugInHostInsufficient;
  if (!IsServedColourSpace(request.resultSpace)) return errPlugInHostInsufficient;

  uint32_t colour = ColourFromComponents(request.sourceSpace, request.components);
  OSErr result;
  switch (request.selector) {
    case plugIncolorServicesChooseColor: result = ChooseWithDialog(&colour); break;
    case plugIncolorServicesConvertColor: result = noErr; break;
    case plugIncolorServicesSamplePoint: result = SamplePoint(request.samplePoint, &colour); break;
    case plugIncolorServicesGetSpecialColor: result = SpecialColour(request.specialColorID, &colour); break;
    default: result = errPlugInHostInsufficient; break;
  }
  if (result != noErr) return result;

  int16_t components[4];
  std::memcpy(components, request.components, sizeof components);
  ComponentsFromColour(request.resultSpace, colour, components);
  return WriteComponents(info, components) ? noErr : paramErr;
}
