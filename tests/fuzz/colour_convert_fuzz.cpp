// Fuzz target for the colour conversions of the colour services: any space
// number and any components a plug-in hands over. UBSan watches the integer
// arithmetic; the checks pin the ranges plug-ins are promised, that unused
// and unserved slots are left alone, and the exact round trips of RGB and grey.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "sdk/color_services.h"
#include "services/colour_convert.h"

namespace {

constexpr int16_t kUntouched = -12345;

[[noreturn]] void Fail(const char* what, long long expected, long long got) {
  fprintf(stderr, "colour_convert_fuzz: %s: expected %lld, got %lld\n", what, expected, got);
  abort();
}

int UsedSlots(int16_t space) {
  switch (space) {
    case plugIncolorServicesGraySpace: return 1;
    case plugIncolorServicesCMYKSpace: return 4;
    default: return IsServedColourSpace(space) ? 3 : 0;
  }
}

void CheckComponents(int16_t space, uint32_t colour) {
  int16_t out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
  ComponentsFromColour(space, colour, out);
  const int used = UsedSlots(space);
  const bool hue = space == plugIncolorServicesHSBSpace || space == plugIncolorServicesHSLSpace;
  for (int k = 0; k < 4; ++k) {
    if (k >= used) {
      if (out[k] != kUntouched) Fail("an unused slot left alone", kUntouched, out[k]);
      continue;
    }
    const int16_t top = hue && k == 0 ? 360 : 255;
    if (out[k] < 0 || out[k] > top) Fail("a component in range", top, out[k]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int16_t space = in.ConsumeBool() ? in.ConsumeIntegral<int16_t>() : in.ConsumeIntegralInRange<int16_t>(-1, 6);
  int16_t components[4];
  for (int16_t& c : components) c = in.ConsumeIntegral<int16_t>();
  const uint32_t colour = in.ConsumeIntegral<uint32_t>();

  const uint32_t made = ColourFromComponents(space, components);
  if ((made >> 24) != 0) Fail("top byte of a converted colour", 0, made >> 24);
  if (!IsServedColourSpace(space) && made != 0) Fail("colour of an unserved space", 0, made);
  CheckComponents(space, made);
  CheckComponents(space, colour);

  // RGB and grey come back exactly.
  int16_t back[4] = {0, 0, 0, 0};
  ComponentsFromColour(plugIncolorServicesRGBSpace, colour, back);
  const uint32_t again = ColourFromComponents(plugIncolorServicesRGBSpace, back);
  if (again != (colour & 0xFFFFFF)) Fail("RGB round trip", colour & 0xFFFFFF, again);
  const int16_t grey[4] = {static_cast<int16_t>(colour & 0xFF), 0, 0, 0};
  int16_t greyBack[4] = {0, 0, 0, 0};
  ComponentsFromColour(plugIncolorServicesGraySpace, ColourFromComponents(plugIncolorServicesGraySpace, grey), greyBack);
  if (greyBack[0] != grey[0]) Fail("grey round trip", grey[0], greyBack[0]);
  HueDegreesToHue8(components[0]);
  HueFractionToDegrees(colour);
  return 0;
}
