#include <windows.h>

#include "server/loop_state.h"
#include "server/memory.h"
#include "server/request_loop.h"

void ReleaseLoopState(LoopState* state) {
  const bool jobRunning = AnyJobRunning(state);
  if (state->about.thread != nullptr) CloseHandle(state->about.thread);
  if (state->filter.thread != nullptr) CloseHandle(state->filter.thread);
  state->about.thread = nullptr;
  state->filter.thread = nullptr;
  if (jobRunning) return;  // the job may still read the image or its catalogue entry
  FreeBlock(state->image);
  state->image = nullptr;
  state->imageLength = 0;
  FreeBlock(state->catalogue);
  state->catalogue = nullptr;
}
