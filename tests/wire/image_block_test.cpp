#include "gtest/gtest.h"
#include "wire/image_block.h"

TEST(ImageBlock, CompleteOnlyWithEveryAnnouncedPixel) {
  struct Row {
    uint32_t width, height, length;
    bool complete;
  };
  const Row rows[] = {
      {1, 1, 28, true},   {1, 1, 27, false},  {2, 2, 40, true},  {2, 2, 39, false},
      {1, 1, 23, false},  {0, 5, 1000, false}, {5, 0, 1000, false}, {0, 0, 24, false},
      // Announced sizes whose byte count needs more than 64 bits: computed
      // naively, 0x80000000² × 4 wraps to 0 and a bare header would pass.
      {0x80000000u, 0x80000000u, 24, false}, {0x80000000u, 0x80000000u, 32, false},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFF, false}, {0x10000, 0x10001, 64, false},
      {0x3FFFFFFAu, 1, 0xFFFFFFFF, false}, {0x3FFFFFF9u, 1, 0xFFFFFFFF, true}, {1, 0x3FFFFFF9u, 0xFFFFFFFF, true},
  };
  for (const Row& r : rows) {
    ImageBlockHeader header{r.width, r.height, 72.0, 72.0};
    EXPECT_EQ(r.complete, ImageBlockComplete(r.length, header))
        << r.width << " x " << r.height << " in " << r.length << " bytes: expected "
        << (r.complete ? "complete" : "incomplete");
  }
}
