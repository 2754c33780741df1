// Tests that need the private virtual display and its key presses run only
// under tests/support/with-display, which sets PLUGHOST_PRIVATE_DISPLAY; they
// skip themselves elsewhere.
#pragma once
#include <windows.h>

#include "gtest/gtest.h"

inline bool OnPrivateDisplay() { return GetEnvironmentVariableW(L"PLUGHOST_PRIVATE_DISPLAY", nullptr, 0) != 0; }

// SKIP_UNLESS_ON_PRIVATE_DISPLAY() << "why";
#define SKIP_UNLESS_ON_PRIVATE_DISPLAY() \
  switch (0)                             \
  case 0:                                \
  default:                               \
    if (OnPrivateDisplay()) {            \
    } else                               \
      GTEST_SKIP() << "run through tests/support/with-display: "
