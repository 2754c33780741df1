// The product version the server reports about itself.
#pragma once
#include <cstdint>

#include "plughost_version.h"

constexpr uint32_t kPlughostVersionNumber = PLUGHOST_VERSION_NUMBER;
static_assert(PLUGHOST_VERSION_MINOR < 256 && PLUGHOST_VERSION_PATCH < 256, "each part has 8 bits");
