// Image files in memory: decoded into the server's pixel order and encoded
// from it, with what the file says besides its pixels. No file system calls
// here; the bytes come and go as buffers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "editor/cli/choices.h"
#include "editor/cli/image_metadata.h"

struct RasterImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bgra;  // width × height pixels, rows top to bottom
  // The file's own layout: 1 grey, 2 grey and alpha, 3 colour, 4 colour and
  // alpha; 8 or 16 bits a channel. What the tool writes follows it.
  int channels = 4;
  int bitsPerChannel = 8;
  ImageMetadata metadata;
};

// The largest image the tool sends: its pixels and the 24-byte block header
// must fit the 32-bit payload length of a request, with room to spare.
constexpr uint64_t MAX_IMAGE_PIXEL_BYTES = 0x40000000ull;  // 1 GiB

// Answers 1, or 0 with a reason in *error. Any file type the decoder knows;
// 16-bit files are rounded to 8 bits (bitsPerChannel says so).
int DecodeImage(const uint8_t* bytes, size_t length, RasterImage* image, std::string* error);

// PNG or BMP, with as many channels as ChannelsToKeep says and the file's
// resolution; a PNG also gets the colour profile and the colour and text
// chunks. Answers 1, or 0 with a reason. `notes` (optional) gets one line
// for each thing read that could not be written.
int EncodeImage(const RasterImage& image, ImageFileType type, std::vector<uint8_t>* bytes, std::string* error,
                std::vector<std::string>* notes = nullptr);
