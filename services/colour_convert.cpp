#include "services/colour_convert.h"

#include "sdk/color_services.h"

namespace {

int64_t Clamp255(int64_t value) { return value < 0 ? 0 : (value > 255 ? 255 : value); }

uint32_t Pack(int64_t red, int64_t green, int64_t blue) {
  return (static_cast<uint32_t>(Clamp255(red)) << 16) | (static_cast<uint32_t>(Clamp255(green)) << 8) |
         static_cast<uint32_t>(Clamp255(blue));
}

uint32_t Low8(int16_t component) { return static_cast<uint32_t>(static_cast<uint16_t>(component)) & 0xFF; }

uint32_t RedOf(uint32_t colour) { return (colour >> 16) & 0xFF; }
uint32_t GreenOf(uint32_t colour) { return (colour >> 8) & 0xFF; }
uint32_t BlueOf(uint32_t colour) { return colour & 0xFF; }

// One channel of the HSL conversion; x is the channel's 16-bit hue position.
int64_t HslChannel(int64_t m1, int64_t m2, int64_t x) {
  if (x < 10922) return m1 + (((m2 - m1) * x * 6 + 32768) >> 16);
  if (x < 32768) return m2;
  if (x < 43690) return m1 + (((m2 - m1) * (43690 - x) * 6 + 32768) >> 16);
  return m1;
}

void MaxMin(uint32_t red, uint32_t green, uint32_t blue, uint32_t* max, uint32_t* min) {
  uint32_t hi = red, lo = red;
  if (green > hi) hi = green;
  if (blue > hi) hi = blue;
  if (green < lo) lo = green;
  if (blue < lo) lo = blue;
  *max = hi;
  *min = lo;
}

}  // namespace

bool IsServedColourSpace(int16_t space) {
  return space == plugIncolorServicesRGBSpace || space == plugIncolorServicesHSBSpace ||
         space == plugIncolorServicesCMYKSpace || space == plugIncolorServicesGraySpace ||
         space == plugIncolorServicesHSLSpace;
}

uint32_t HueDegreesToHue8(int16_t degrees) {
  // C++ division truncates toward zero, as the reduction asks.
  int32_t scaled = static_cast<int32_t>(degrees) * 255 / 360;
  return static_cast<uint32_t>(scaled) & 0xFF;
}

uint32_t HsbToColour(uint32_t hue8, uint32_t saturation, uint32_t brightness) {
  const int64_t h = hue8 & 0xFF, s = saturation & 0xFF, v = brightness & 0xFF;
  const int64_t sector = (h * 1542) >> 16;  // 0 ... 5 for h up to 255
  const int64_t f = h * 6 - sector * 255;
  const int64_t p = ((255 - s) * v * 257 + 32768) >> 16;
  const int64_t q = ((((65025 - f * s) * v) >> 8) * 258 + 32768) >> 16;
  const int64_t t = ((((65025 - (255 - f) * s) * v) >> 8) * 258 + 32768) >> 16;
  switch (sector) {
    case 0: return Pack(v, t, p);
    case 1: return Pack(q, v, p);
    case 2: return Pack(p, v, t);
    case 3: return Pack(p, q, v);
    case 4: return Pack(t, p, v);
    default: return Pack(v, p, q);
  }
}

uint32_t HslToColour(uint32_t hue8, uint32_t saturation, uint32_t lightness) {
  const int64_t h16 = static_cast<int64_t>(hue8 & 0xFF) * 257;
  const int64_t s = saturation & 0xFF, l = lightness & 0xFF;
  const int64_t m2 = l < 128 ? ((((255 + s) * l + 127) * 257) >> 16) : l + s - (((l * s + 127) * 257) >> 16);
  const int64_t m1 = 2 * l - m2;
  return Pack(HslChannel(m1, m2, (h16 + 21845) & 0xFFFF), HslChannel(m1, m2, h16),
              HslChannel(m1, m2, (h16 - 21845) & 0xFFFF));
}

uint32_t CmykToColour(uint32_t cyan, uint32_t magenta, uint32_t yellow, uint32_t black) {
  auto ink = [black](uint32_t colourInk) -> int64_t {
    uint32_t sum = (colourInk & 0xFF) + (black & 0xFF);
    return 255 - static_cast<int64_t>(sum > 255 ? 255 : sum);
  };
  return Pack(ink(cyan), ink(magenta), ink(yellow));
}

uint32_t ColourFromComponents(int16_t space, const int16_t components[4]) {
  switch (space) {
    case plugIncolorServicesRGBSpace:
      return Pack(Low8(components[0]), Low8(components[1]), Low8(components[2]));
    case plugIncolorServicesGraySpace: {
      uint32_t grey = Low8(components[0]);
      return Pack(grey, grey, grey);
    }
    case plugIncolorServicesHSBSpace:
      return HsbToColour(HueDegreesToHue8(components[0]), Low8(components[1]), Low8(components[2]));
    case plugIncolorServicesHSLSpace:
      return HslToColour(HueDegreesToHue8(components[0]), Low8(components[1]), Low8(components[2]));
    case plugIncolorServicesCMYKSpace:
      return CmykToColour(Low8(components[kCyanSlot]), Low8(components[kMagentaSlot]), Low8(components[kYellowSlot]),
                          Low8(components[kBlackSlot]));
    default:
      return 0;
  }
}

uint32_t HueFraction(uint32_t red, uint32_t green, uint32_t blue) {
  uint32_t max, min;
  MaxMin(red, green, blue, &max, &min);
  const int64_t d = static_cast<int64_t>(max) - min;
  if (d == 0) return 0;
  int64_t e;
  if (red == max) {
    e = static_cast<int64_t>(green) - blue;
  } else if (green == max) {
    e = 2 * d - red + blue;
  } else {
    e = 4 * d - green + red;
  }
  // 174762 is a sixth of a turn in 1/16 steps; 0x100008 adds a full turn and
  // the rounding half before the shift.
  const int64_t sixteenths = (e * 174762 + d / 2) / d + 0x100008;
  return static_cast<uint32_t>(sixteenths >> 4) & 0xFFFF;
}

int16_t HueFractionToDegrees(uint32_t h16) {
  return static_cast<int16_t>((static_cast<int64_t>(h16 & 0xFFFF) * 360 + 32767) / 65535);
}

uint8_t GreyOf(uint32_t colour) {
  // The weights add up to 65536, so a grey maps onto itself.
  return static_cast<uint8_t>((19595 * RedOf(colour) + 38470 * GreenOf(colour) + 7471 * BlueOf(colour) + 32768) >> 16);
}

void ComponentsFromColour(int16_t space, uint32_t colour, int16_t components[4]) {
  const uint32_t red = RedOf(colour), green = GreenOf(colour), blue = BlueOf(colour);
  uint32_t max, min;
  MaxMin(red, green, blue, &max, &min);
  const uint32_t d = max - min;
  switch (space) {
    case plugIncolorServicesRGBSpace:
      components[0] = static_cast<int16_t>(red);
      components[1] = static_cast<int16_t>(green);
      components[2] = static_cast<int16_t>(blue);
      return;
    case plugIncolorServicesGraySpace:
      components[0] = GreyOf(colour);
      return;
    case plugIncolorServicesHSBSpace: {
      int16_t hue = 0, saturation = 0;
      if (d != 0) {
        saturation = static_cast<int16_t>((255 * d + max / 2) / max);
        hue = HueFractionToDegrees(HueFraction(red, green, blue));
      }
      components[0] = hue;
      components[1] = saturation;
      components[2] = static_cast<int16_t>(max);
      return;
    }
    case plugIncolorServicesHSLSpace: {
      const uint32_t sum = max + min;
      int16_t hue = 0, saturation = 0;
      int16_t lightness = static_cast<int16_t>(max);
      if (d != 0) {
        lightness = static_cast<int16_t>((sum + 1) >> 1);
        const uint32_t divisor = sum + 1 < 256 ? sum : 510 - sum;
        uint32_t s = (255 * d + divisor / 2) / divisor;
        saturation = static_cast<int16_t>(s > 255 ? 255 : s);
        hue = HueFractionToDegrees(HueFraction(red, green, blue));
      }
      components[0] = hue;
      components[1] = saturation;
      components[2] = lightness;
      return;
    }
    case plugIncolorServicesCMYKSpace: {
      if (max == 0) {
        // Black is given as every ink at full strength.
        components[kCyanSlot] = components[kMagentaSlot] = components[kYellowSlot] = components[kBlackSlot] = 255;
        return;
      }
      const uint32_t black = 255 - max;  // min of the inverted values
      components[kCyanSlot] = static_cast<int16_t>(255 - red - black);
      components[kMagentaSlot] = static_cast<int16_t>(255 - green - black);
      components[kYellowSlot] = static_cast<int16_t>(255 - blue - black);
      components[kBlackSlot] = static_cast<int16_t>(black);
      return;
    }
    default:
      return;
  }
}
