// Image files in memory: decoded into the server's pixel order and encoded
// from it. No file system calls here; the bytes come and go as buffers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "editor/cli/choices.h"

struct RasterImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bgra;  // width × height pixels, rows top to bottom
};

// The largest image the tool sends: its pixels and the 24-byte block header
// must fit the 32-bit payload length of a request, with room to spare.
constexpr uint64_t MAX_IMAGE_PIXEL_BYTES = 0x40000000ull;  // 1 GiB

// Answers 1, or 0 with a reason in *error. Any file type the decoder knows.
int DecodeImage(const uint8_t* bytes, size_t length, RasterImage* image, std::string* error);
// PNG or BMP, alpha kept. Answers 1, or 0 with a reason.
int EncodeImage(const RasterImage& image, ImageFileType type, std::vector<uint8_t>* bytes, std::string* error);
