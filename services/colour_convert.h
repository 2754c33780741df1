// Integer colour-space conversions of the colour services. Every space passes
// through one internal colour, 0xAARRGGBB (blue in the lowest byte); the top
// byte is carried along and never converted.
//
// Pure arithmetic on plain values, no system calls, so that it can be tested
// and fuzzed natively.
//
// Components as plug-ins see them (int16 each):
//   RGB   0 R, 1 G, 2 B                     0 ... 255
//   HSB   0 hue in degrees, 1 S, 2 B        0 ... 360, 0 ... 255
//   HSL   0 hue in degrees, 1 S, 2 L        0 ... 360, 0 ... 255
//   CMYK  0 cyan, 1 magenta, 2 yellow, 3 black, 0 ... 255 each
//   grey  0 grey                            0 ... 255
// Only the low 8 bits of an incoming component are used; an incoming hue is
// first scaled to 256 steps a turn.
#pragma once
#include <cstdint>

// Component slots of the inks: the published order.
constexpr int kCyanSlot = 0;
constexpr int kMagentaSlot = 1;
constexpr int kYellowSlot = 2;
constexpr int kBlackSlot = 3;

// RGB 0, HSB 1, CMYK 2, grey 4 and HSL 5 are served; Lab, XYZ and the
// chosen-space value are not.
bool IsServedColourSpace(int16_t space);

// Into the internal colour. The top byte of the result is 0. An unserved
// space gives 0.
uint32_t ColourFromComponents(int16_t space, const int16_t components[4]);
// From the internal colour. Writes only the slots the space uses; the others
// keep what they held. An unserved space writes nothing.
void ComponentsFromColour(int16_t space, uint32_t colour, int16_t components[4]);

// The single conversions. Inputs are the already-reduced 8-bit values; hue8
// is 0 ... 255 for a full turn.
uint32_t HsbToColour(uint32_t hue8, uint32_t saturation, uint32_t brightness);
uint32_t HslToColour(uint32_t hue8, uint32_t saturation, uint32_t lightness);
uint32_t CmykToColour(uint32_t cyan, uint32_t magenta, uint32_t yellow, uint32_t black);
// Reduces an incoming hue in degrees to 256 steps a turn (low 8 bits).
uint32_t HueDegreesToHue8(int16_t degrees);

// Hue of a non-grey colour as a 16-bit fraction of a turn (0 ... 65535),
// and that fraction in whole degrees (0 ... 360).
uint32_t HueFraction(uint32_t red, uint32_t green, uint32_t blue);
int16_t HueFractionToDegrees(uint32_t h16);
uint8_t GreyOf(uint32_t colour);
