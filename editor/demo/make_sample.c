/* Draws the bundled demo image: a sky-to-ground gradient with a sun, hills
   and a house, 256 x 192, written as sample.png. Built and run on the build
   machine (cc make_sample.c -I/usr/include/stb -lm); the PNG is committed. */
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <math.h>
#include <stb_image_write.h>

enum { W = 256, H = 192 };
static unsigned char pixels[W * H * 3];

static void Put(int x, int y, double r, double g, double b) {
  unsigned char* p = pixels + (y * W + x) * 3;
  p[0] = (unsigned char)(r < 0 ? 0 : r > 255 ? 255 : r);
  p[1] = (unsigned char)(g < 0 ? 0 : g > 255 ? 255 : g);
  p[2] = (unsigned char)(b < 0 ? 0 : b > 255 ? 255 : b);
}

int main(void) {
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      double t = (double)y / H;
      /* Sky: deep blue at the top to a warm haze at the horizon. */
      double r = 40 + 200 * t, g = 90 + 120 * t, b = 200 - 40 * t;
      /* Sun with a soft glow. */
      double d = hypot(x - 190.0, y - 50.0);
      if (d < 22) r = 255, g = 225, b = 120;
      else if (d < 60) {
        double k = (60 - d) / 38 * 0.6;
        r += (255 - r) * k, g += (200 - g) * k, b += (120 - b) * k;
      }
      /* Two rolling hills, shaded by height. */
      double hill1 = 130 + 18 * sin(x / 30.0), hill2 = 150 + 12 * sin(x / 17.0 + 1.3);
      if (y > hill1) r = 70 + 0.3 * (y - hill1), g = 130 - 0.4 * (y - hill1), b = 60;
      if (y > hill2) r = 40 + 0.5 * (y - hill2), g = 100 - 0.3 * (y - hill2), b = 45;
      /* A house: wall, roof and a window. */
      if (x >= 50 && x < 100 && y >= 120 && y < 160) r = 215, g = 200, b = 170;
      if (y >= 95 && y < 120 && fabs(x - 75.0) < (y - 95) * 1.2 + 1) r = 160, g = 50, b = 40;
      if (x >= 62 && x < 76 && y >= 130 && y < 144) r = 90, g = 150, b = 220;
      if (x >= 82 && x < 94 && y >= 138 && y < 160) r = 100, g = 60, b = 35;
      /* A little fine texture so that filters have detail to work on. */
      double n = ((x * 73 + y * 151) % 17 - 8) * 0.6;
      Put(x, y, r + n, g + n, b + n);
    }
  }
  return stbi_write_png("sample.png", W, H, 3, pixels, W * 3) ? 0 : 1;
}
