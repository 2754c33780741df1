#include <windows.h>

#include <initializer_list>

#include "server/loop_state.h"
#include "server/memory.h"
#include "server/request_loop.h"

static bool gJobRunningAtEnd = false;

bool JobRunningAtLoopEnd() { return gJobRunningAtEnd; }

void ReleaseLoopState(LoopState* state) {
  const bool jobRunning = AnyJobRunning(state);
  ReleaseSpareRegion();
  if (state->about.thread != nullptr) CloseHandle(state->about.thread);
  if (state->filter.thread != nullptr) CloseHandle(state->filter.thread);
  state->about.thread = nullptr;
  state->filter.thread = nullptr;
  if (jobRunning) {
    // The job may still read the image or its catalogue entry, or set its
    // progress event; the process ends right after the loop, and the job
    // with it.
    gJobRunningAtEnd = true;
    return;
  }
  for (JobSlot* slot : {&state->about, &state->filter}) {
    if (slot->wake != nullptr) CloseHandle(slot->wake);
    slot->wake = nullptr;
  }
  ReleaseOwnedBlock(&state->image);
  FreeBlock(state->catalogue);
  state->catalogue = nullptr;
}
