// The product's version as one number, as REQ_SERVER_INFO reports it.
#pragma once
#include <cstdint>

// major << 16 | minor << 8 | patch
constexpr uint32_t kPlughostVersionNumber = 0x00010000;  // 1.0.0
