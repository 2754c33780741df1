// The integer conversions against a textbook floating-point model of HSB
// (hexcone) and HSL. Tolerances:
//   - components in 0 ... 255: within 1 level of the rounded model value;
//   - hue in degrees: within 1 degree (circularly) of the model's hue;
//   - a round trip RGB -> HSB/HSL -> RGB: within 1 level of the model taken
//     along the same road, where the hue travels as whole degrees and then
//     as 255ths of a turn, as the components of the interface make it.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gtest/gtest.h"
#include "sdk/color_services.h"
#include "services/colour_convert.h"
#include "tests/support/caller.h"

namespace {

struct Rgb {
  double r, g, b;  // 0 ... 1
};
struct Hxx {
  double h, s, x;  // h in degrees 0 ... 360, s and x in 0 ... 1
};

Hxx ModelHsb(Rgb c) {
  double max = std::max({c.r, c.g, c.b}), min = std::min({c.r, c.g, c.b}), d = max - min;
  Hxx out{0, max > 0 ? d / max : 0, max};
  if (d > 0) {
    double h = max == c.r ? (c.g - c.b) / d : max == c.g ? 2 + (c.b - c.r) / d : 4 + (c.r - c.g) / d;
    out.h = std::fmod(h * 60 + 360, 360);
  }
  return out;
}

Hxx ModelHsl(Rgb c) {
  double max = std::max({c.r, c.g, c.b}), min = std::min({c.r, c.g, c.b}), d = max - min;
  double l = (max + min) / 2;
  Hxx out{0, 0, l};
  if (d > 0) {
    out.s = l <= 0.5 ? d / (max + min) : d / (2 - max - min);
    out.h = ModelHsb(c).h;
  }
  return out;
}

Rgb ModelFromHsb(Hxx c) {
  double h = std::fmod(c.h, 360) / 60, chroma = c.x * c.s;
  double x = chroma * (1 - std::fabs(std::fmod(h, 2) - 1)), m = c.x - chroma;
  int sector = static_cast<int>(h);
  double r = 0, g = 0, b = 0;
  switch (sector) {
    case 0: r = chroma, g = x; break;
    case 1: r = x, g = chroma; break;
    case 2: g = chroma, b = x; break;
    case 3: g = x, b = chroma; break;
    case 4: r = x, b = chroma; break;
    default: r = chroma, b = x; break;
  }
  return {r + m, g + m, b + m};
}

Rgb ModelFromHsl(Hxx c) {
  double chroma = (1 - std::fabs(2 * c.x - 1)) * c.s;
  double v = c.x + chroma / 2;
  return ModelFromHsb({c.h, v > 0 ? chroma / v : 0, v});
}

int Level(double unit) { return static_cast<int>(std::lround(unit * 255)); }
double Unit(int level) { return level / 255.0; }

int HueDistance(int a, double b) {
  double d = std::fabs(a - b);
  return static_cast<int>(std::ceil(std::min(d, 360 - d) - 1e-9));
}

struct Got {
  int c[4];
};
Got FromRgb(int16_t space, int r, int g, int b) {
  int16_t in[4] = {static_cast<int16_t>(r), static_cast<int16_t>(g), static_cast<int16_t>(b), 0};
  int16_t out[4] = {0, 0, 0, 0};
  ComponentsFromColour(space, ColourFromComponents(plugIncolorServicesRGBSpace, in), out);
  return {{out[0], out[1], out[2], out[3]}};
}
Got ToRgb(int16_t space, int c0, int c1, int c2) {
  int16_t in[4] = {static_cast<int16_t>(c0), static_cast<int16_t>(c1), static_cast<int16_t>(c2), 0};
  int16_t out[4] = {0, 0, 0, 0};
  ComponentsFromColour(plugIncolorServicesRGBSpace, ColourFromComponents(space, in), out);
  return {{out[0], out[1], out[2], out[3]}};
}

Got Split(uint32_t colour) {
  return {{static_cast<int>(colour >> 16 & 0xFF), static_cast<int>(colour >> 8 & 0xFF), static_cast<int>(colour & 0xFF), 0}};
}

// The hue as it reaches the conversion: whole degrees cut to 255ths of a turn.
double HueAfterTransport(int degrees) { return (degrees * 255 / 360 % 256) * 360.0 / 255.0; }

void ExpectNear(Rgb model, const Got& got, int tolerance, const char* what, int r, int g, int b,
                CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  int want[3] = {Level(model.r), Level(model.g), Level(model.b)};
  for (int i = 0; i < 3; ++i) {
    ASSERT_LE(std::abs(want[i] - got.c[i]), tolerance)
        << what << " of " << r << "," << g << "," << b << ": expected " << want[0] << "," << want[1] << "," << want[2]
        << " got " << got.c[0] << "," << got.c[1] << "," << got.c[2];
  }
}

constexpr int kStep = 5;  // 52 levels per channel, 140,608 colours

}  // namespace

TEST(ColourReference, RgbToHsbAndHslOverAGrid) {
  for (int r = 0; r < 256; r += kStep)
    for (int g = 0; g < 256; g += kStep)
      for (int b = 0; b < 256; b += kStep) {
        Rgb c{Unit(r), Unit(g), Unit(b)};
        Hxx hsb = ModelHsb(c), hsl = ModelHsl(c);
        Got ih = FromRgb(plugIncolorServicesHSBSpace, r, g, b), il = FromRgb(plugIncolorServicesHSLSpace, r, g, b);
        ASSERT_LE(HueDistance(ih.c[0], hsb.h), 1) << r << "," << g << "," << b << " HSB hue: expected " << hsb.h
                                                   << " got " << ih.c[0];
        ASSERT_LE(std::abs(ih.c[1] - Level(hsb.s)), 1) << r << "," << g << "," << b << " HSB saturation: expected "
                                                       << Level(hsb.s) << " got " << ih.c[1];
        ASSERT_EQ(Level(hsb.x), ih.c[2]) << r << "," << g << "," << b << " brightness";
        ASSERT_LE(HueDistance(il.c[0], hsl.h), 1) << r << "," << g << "," << b << " HSL hue: expected " << hsl.h
                                                   << " got " << il.c[0];
        ASSERT_LE(std::abs(il.c[1] - Level(hsl.s)), 1) << r << "," << g << "," << b << " HSL saturation: expected "
                                                       << Level(hsl.s) << " got " << il.c[1];
        ASSERT_LE(std::abs(il.c[2] - Level(hsl.x)), 1) << r << "," << g << "," << b << " lightness: expected "
                                                       << Level(hsl.x) << " got " << il.c[2];
      }
}

// Each road is checked twice: the way back against the model fed with the
// same transported components, and the whole trip against the colour that
// went in. The hue may move by up to 2.5 degrees on the way (rounding to a
// whole degree, then cutting to 255ths of a turn), which moves a channel by at
// most d / 24 for a colour whose max - min is d; one level more for rounding.
TEST(ColourReference, RoundTripThroughHsbAndHsl) {
  for (int16_t space : {plugIncolorServicesHSBSpace, plugIncolorServicesHSLSpace}) {
    const char* name = space == plugIncolorServicesHSBSpace ? "HSB" : "HSL";
    for (int r = 0; r < 256; r += kStep)
      for (int g = 0; g < 256; g += kStep)
        for (int b = 0; b < 256; b += kStep) {
          Got there = FromRgb(space, r, g, b);
          Got back = ToRgb(space, there.c[0], there.c[1], there.c[2]);
          Hxx sent{HueAfterTransport(there.c[0]), Unit(there.c[1]), Unit(there.c[2])};
          ExpectNear(space == plugIncolorServicesHSBSpace ? ModelFromHsb(sent) : ModelFromHsl(sent), back, 1, name, r,
                     g, b);
          const int d = std::max({r, g, b}) - std::min({r, g, b});
          const int tolerance = 1 + (d + 23) / 24;
          ExpectNear(Rgb{Unit(r), Unit(g), Unit(b)}, back, tolerance, name, r, g, b);
        }
  }
}

TEST(ColourReference, HsbAndHslToRgbForEveryHueStep) {
  for (int hue8 = 0; hue8 < 256; ++hue8)
    for (int s = 0; s < 256; s += 15)
      for (int x = 0; x < 256; x += 15) {
        double degrees = hue8 * 360.0 / 255.0;
        Got hsb = Split(HsbToColour(static_cast<uint32_t>(hue8), static_cast<uint32_t>(s), static_cast<uint32_t>(x)));
        ExpectNear(ModelFromHsb({degrees, Unit(s), Unit(x)}), hsb, 1, "HSB", hue8, s, x);
        Got hsl = Split(HslToColour(static_cast<uint32_t>(hue8), static_cast<uint32_t>(s), static_cast<uint32_t>(x)));
        ExpectNear(ModelFromHsl({degrees, Unit(s), Unit(x)}), hsl, 1, "HSL", hue8, s, x);
      }
}

TEST(ColourReference, EveryWholeDegreeAtFullSaturation) {
  for (int degrees = 0; degrees <= 360; ++degrees) {
    double hue = HueAfterTransport(degrees);
    ExpectNear(ModelFromHsb({hue, 1, 1}), ToRgb(plugIncolorServicesHSBSpace, degrees, 255, 255), 1, "HSB degrees",
               degrees, 255, 255);
    ExpectNear(ModelFromHsl({hue, 1, Unit(128)}), ToRgb(plugIncolorServicesHSLSpace, degrees, 255, 128), 1,
               "HSL degrees", degrees, 255, 128);
    // And back: the pure hue comes out within a degree of the hue that went in.
    Got rgb = ToRgb(plugIncolorServicesHSBSpace, degrees, 255, 255);
    Got hsb = FromRgb(plugIncolorServicesHSBSpace, rgb.c[0], rgb.c[1], rgb.c[2]);
    ASSERT_LE(HueDistance(hsb.c[0], hue), 1) << "degrees " << degrees << ": expected about " << hue << " got "
                                             << hsb.c[0];
    EXPECT_EQ(255, hsb.c[1]) << "degrees " << degrees;
    EXPECT_EQ(255, hsb.c[2]) << "degrees " << degrees;
  }
}
