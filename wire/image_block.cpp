#include "wire/image_block.h"

bool ImageBlockComplete(uint32_t length, const ImageBlockHeader& header) {
  if (length < IMAGE_HEADER_BYTES || header.width == 0 || header.height == 0) return false;
  // width × height × 4 may need 66 bits; how many whole rows fit needs none.
  const uint64_t pixelsSent = (length - IMAGE_HEADER_BYTES) / 4;
  return pixelsSent / header.width >= header.height;
}
