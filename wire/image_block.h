// Whether a Filter start's payload is an image the server can work on.
#pragma once
#include <cstdint>

#include "wire/protocol.h"

// True when the header announces at least one pixel and `length` payload
// bytes hold the header and every pixel it announces. The pixel count is
// compared by division, so no announced size can wrap.
bool ImageBlockComplete(uint32_t length, const ImageBlockHeader& header);
