// The far end of the bare-pipe baseline, in a process of its own as the
// server is, moving bytes with the server's own pipe code and at its request
// loop's priority: until the pipe closes, it takes LENGTH bytes and answers
// one byte, and on one byte sends LENGTH bytes back.
//   pipe_peer NAME LENGTH
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "server/pipe_channel.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const uint32_t length = static_cast<uint32_t>(wcstoul(argv[2], nullptr, 10));
  if (length == 0) return 2;
  PipeChannel channel;
  if (!PipeConnect(&channel, argv[1])) return 3;
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  std::vector<uint8_t> buffer(length, 0);
  uint8_t signal = 1;
  while (PipeRead(&channel, buffer.data(), length) && PipeWrite(&channel, &signal, 1) &&
         PipeRead(&channel, &signal, 1) && PipeWrite(&channel, buffer.data(), length)) {
  }
  PipeClose(&channel);
  return 0;
}
