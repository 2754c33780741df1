// The image engine's copies on a 4096 x 4096 image: the same-size copy (whole
// rows), nearest-neighbour halving, bilinear doubling of a 2048 x 2048 source
// and box halving. Each as output megapixels per second and against memcpy of
// the same output bytes, measured in this run.
#include <cstring>
#include <vector>

#include "bench/bench_util.h"
#include "engine/pixel_buffer.h"
#include "engine/region_copy.h"
#include "engine/resample.h"

static bool Make(PixelBuffer* b, int32_t w, int32_t h) {
  memset(static_cast<void*>(b), 0, sizeof(*b));
  if (!CreatePixelBuffer(b, w, h, PB_STORAGE_AUTO)) return false;
  uint32_t seed = 12345;
  for (uint32_t y = 0; y < b->height; ++y)
    for (uint32_t x = 0; x < b->width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      b->pixels[static_cast<size_t>(b->pitch) * y + x] = seed;
    }
  return true;
}

static double MemcpySeconds(size_t bytes) {
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
  return BestOf(5, [&] { memcpy(to.data(), from.data(), bytes); });
}

static void Report(const char* name, double seconds, uint64_t outputPixels, double memcpySeconds) {
  char label[96];
  snprintf(label, sizeof(label), "%s_mpix", name);
  Figure(label, static_cast<double>(outputPixels) / seconds / 1e6, "MPix/s");
  snprintf(label, sizeof(label), "%s_vs_memcpy", name);
  Figure(label, memcpySeconds / seconds, "x");
}

int main() {
  const int32_t N = 4096, H = N / 2;
  PixelBuffer big{}, out{}, half{};
  if (!Make(&big, N, N) || !Make(&out, N, N) || !Make(&half, H, H)) {
    fprintf(stderr, "engine bench: buffers not created\n");
    return 1;
  }
  const uint64_t fullPixels = uint64_t{N} * N, halfPixels = uint64_t{H} * H;
  double memcpyFull = MemcpySeconds(fullPixels * 4);
  double memcpyHalf = MemcpySeconds(halfPixels * 4);
  Figure("memcpy_64mib", fullPixels * 4 / memcpyFull / 1e6, "MB/s");

  double t = BestOf(5, [&] { CopyRegion(&out, 0, 0, N - 1, N - 1, &big, 0, 0, N - 1, N - 1, 0); });
  Report("copy_same_size", t, fullPixels, memcpyFull);

  t = BestOf(5, [&] { CopyRegion(&out, 0, 0, H - 1, H - 1, &big, 0, 0, N - 1, N - 1, 0); });
  Report("copy_nearest_halving", t, halfPixels, memcpyHalf);

  t = BestOf(5, [&] { ResampleRegion(&out, 0, 0, N - 1, N - 1, &half, 0, 0, H - 1, H - 1, 0); });
  Report("resample_bilinear_doubling", t, fullPixels, memcpyFull);

  t = BestOf(5, [&] { ResampleRegion(&out, 0, 0, H - 1, H - 1, &big, 0, 0, N - 1, N - 1, 0); });
  Report("resample_box_halving", t, halfPixels, memcpyHalf);

  ReleasePixelBuffer(&big);
  ReleasePixelBuffer(&out);
  ReleasePixelBuffer(&half);
  return 0;
}
