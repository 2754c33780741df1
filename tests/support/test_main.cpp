#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "gtest/gtest.h"

int main(int argc, char** argv) {
  // msvcrt's text mode would turn every line end into CR LF, which the test
  // list parser does not expect.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // A test that fails must not wait on a system error box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
