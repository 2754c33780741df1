// The integer conversions on their own: worked values, slot use and the
// reduction of incoming components.
#include <array>

#include "gtest/gtest.h"
#include "sdk/color_services.h"
#include "services/colour_convert.h"

namespace {

using Components = std::array<int16_t, 4>;
constexpr int16_t kUnused = -12345;  // sentinel for slots a space must not touch

Components Convert(int16_t from, Components in, int16_t to) {
  Components out = {kUnused, kUnused, kUnused, kUnused};
  ComponentsFromColour(to, ColourFromComponents(from, in.data()), out.data());
  return out;
}

struct ConvertCase {
  const char* what;
  int16_t from;
  Components in;
  int16_t to;
  Components expected;
};

const ConvertCase kCases[] = {
    {"red as HSB", plugIncolorServicesRGBSpace, {255, 0, 0, 0}, plugIncolorServicesHSBSpace, {0, 255, 255, kUnused}},
    {"red as HSL", plugIncolorServicesRGBSpace, {255, 0, 0, 0}, plugIncolorServicesHSLSpace, {0, 255, 128, kUnused}},
    {"red as grey", plugIncolorServicesRGBSpace, {255, 0, 0, 0}, plugIncolorServicesGraySpace,
     {76, kUnused, kUnused, kUnused}},
    {"HSB green as RGB", plugIncolorServicesHSBSpace, {120, 255, 255, 0}, plugIncolorServicesRGBSpace,
     {0, 255, 0, kUnused}},
    {"black as CMYK", plugIncolorServicesRGBSpace, {0, 0, 0, 0}, plugIncolorServicesCMYKSpace, {255, 255, 255, 255}},
    {"full inks as RGB", plugIncolorServicesCMYKSpace, {255, 255, 255, 255}, plugIncolorServicesRGBSpace,
     {0, 0, 0, kUnused}},
    {"black as HSB", plugIncolorServicesRGBSpace, {0, 0, 0, 0}, plugIncolorServicesHSBSpace, {0, 0, 0, kUnused}},
    {"black as HSL", plugIncolorServicesRGBSpace, {0, 0, 0, 0}, plugIncolorServicesHSLSpace, {0, 0, 0, kUnused}},
    {"white as CMYK", plugIncolorServicesRGBSpace, {255, 255, 255, 0}, plugIncolorServicesCMYKSpace, {0, 0, 0, 0}},
    {"blue as HSB", plugIncolorServicesRGBSpace, {0, 0, 255, 0}, plugIncolorServicesHSBSpace, {240, 255, 255, kUnused}},
    {"magenta as HSB", plugIncolorServicesRGBSpace, {255, 0, 255, 0}, plugIncolorServicesHSBSpace,
     {300, 255, 255, kUnused}},
    {"HSL blue as RGB", plugIncolorServicesHSLSpace, {240, 255, 128, 0}, plugIncolorServicesRGBSpace,
     {1, 1, 255, kUnused}},
    // Inks in the published slot order: cyan, magenta, yellow, black.
    {"red as CMYK", plugIncolorServicesRGBSpace, {255, 0, 0, 0}, plugIncolorServicesCMYKSpace, {0, 255, 255, 0}},
    {"dark cyan as CMYK", plugIncolorServicesRGBSpace, {0, 128, 128, 0}, plugIncolorServicesCMYKSpace,
     {128, 0, 0, 127}},
    {"cyan ink as RGB", plugIncolorServicesCMYKSpace, {255, 0, 0, 0}, plugIncolorServicesRGBSpace,
     {0, 255, 255, kUnused}},
    {"black ink as RGB", plugIncolorServicesCMYKSpace, {0, 0, 0, 200}, plugIncolorServicesRGBSpace,
     {55, 55, 55, kUnused}},
    {"ink plus black saturates", plugIncolorServicesCMYKSpace, {100, 0, 200, 100}, plugIncolorServicesRGBSpace,
     {55, 155, 0, kUnused}},
    // Only the low 8 bits of a component count.
    {"RGB low bits", plugIncolorServicesRGBSpace, {266, -1, 512, 0}, plugIncolorServicesRGBSpace,
     {10, 255, 0, kUnused}},
    {"grey from slot 0", plugIncolorServicesGraySpace, {77, 1, 2, 3}, plugIncolorServicesRGBSpace, {77, 77, 77, kUnused}},
};

}  // namespace

TEST(ColourConvert, WorkedValues) {
  for (const ConvertCase& c : kCases) {
    Components got = Convert(c.from, c.in, c.to);
    EXPECT_EQ(c.expected, got) << c.what << ": expected " << c.expected[0] << "," << c.expected[1] << ","
                               << c.expected[2] << "," << c.expected[3] << " got " << got[0] << "," << got[1] << ","
                               << got[2] << "," << got[3];
  }
}

TEST(ColourConvert, IncomingHueIsScaledThenCut) {
  EXPECT_EQ(0u, HueDegreesToHue8(0));
  EXPECT_EQ(85u, HueDegreesToHue8(120));
  EXPECT_EQ(255u, HueDegreesToHue8(360));
  // -1 * 255 / 360 truncates to 0; -360 gives -255, whose low byte is 1.
  EXPECT_EQ(0u, HueDegreesToHue8(-1));
  EXPECT_EQ(1u, HueDegreesToHue8(-360));
  EXPECT_EQ(254u, HueDegreesToHue8(720));
  // A hue of 360 is a full turn: the same red as 0.
  EXPECT_EQ(Convert(plugIncolorServicesHSBSpace, {0, 255, 255, 0}, plugIncolorServicesRGBSpace),
            Convert(plugIncolorServicesHSBSpace, {360, 255, 255, 0}, plugIncolorServicesRGBSpace));
}

TEST(ColourConvert, HueFractionCoversTheTurn) {
  EXPECT_EQ(0, HueFractionToDegrees(0));
  EXPECT_EQ(360, HueFractionToDegrees(65535));
  EXPECT_EQ(180, HueFractionToDegrees(32768));
  // Just short of red from below wraps to the top of the turn, not below 0.
  uint32_t h = HueFraction(255, 0, 1);
  EXPECT_GT(h, 65000u) << "got " << h;
}

TEST(ColourConvert, TopByteIsCarriedButNotConverted) {
  Components out = {kUnused, kUnused, kUnused, kUnused};
  ComponentsFromColour(plugIncolorServicesRGBSpace, 0xFF336699u, out.data());
  EXPECT_EQ((Components{51, 102, 153, kUnused}), out);
  ComponentsFromColour(plugIncolorServicesCMYKSpace, 0xFF000000u, out.data());
  EXPECT_EQ((Components{255, 255, 255, 255}), out) << "an opaque black is still black";
}

TEST(ColourConvert, EveryGreyMapsOntoItself) {
  for (int g = 0; g <= 255; ++g) {
    const int16_t v = static_cast<int16_t>(g);
    Components rgb = {v, v, v, 0};
    EXPECT_EQ((Components{v, kUnused, kUnused, kUnused}), Convert(0, rgb, plugIncolorServicesGraySpace)) << "grey " << g;
    EXPECT_EQ((Components{0, 0, v, kUnused}), Convert(0, rgb, plugIncolorServicesHSBSpace)) << "grey " << g;
    EXPECT_EQ((Components{0, 0, v, kUnused}), Convert(0, rgb, plugIncolorServicesHSLSpace)) << "grey " << g;
    Components inks = g == 0 ? Components{255, 255, 255, 255} : Components{0, 0, 0, static_cast<int16_t>(255 - g)};
    EXPECT_EQ(inks, Convert(0, rgb, plugIncolorServicesCMYKSpace)) << "grey " << g;
    for (int16_t space : {plugIncolorServicesGraySpace, plugIncolorServicesHSBSpace, plugIncolorServicesHSLSpace,
                          plugIncolorServicesCMYKSpace}) {
      Components there = Convert(0, rgb, space);
      EXPECT_EQ((Components{v, v, v, kUnused}), Convert(space, there, 0)) << "grey " << g << " back from space " << space;
    }
  }
}

TEST(ColourConvert, CmykRoundTripIsExact) {
  for (int r = 0; r < 256; r += 17)
    for (int g = 0; g < 256; g += 17)
      for (int b = 0; b < 256; b += 17) {
        Components rgb = {static_cast<int16_t>(r), static_cast<int16_t>(g), static_cast<int16_t>(b), kUnused};
        Components back = Convert(plugIncolorServicesCMYKSpace, Convert(0, rgb, plugIncolorServicesCMYKSpace), 0);
        ASSERT_EQ(rgb, back) << r << "," << g << "," << b;
      }
}
