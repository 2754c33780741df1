#include "server/system_calls.h"

#include <initializer_list>

#include "server/loop_state.h"
#include "base/memory.h"
#include "server/request_loop.h"
#include "engine/advance_state.h"

static bool gJobRunningAtEnd = false;

bool JobRunningAtLoopEnd() { return gJobRunningAtEnd; }

void ReleaseLoopState(LoopState* state) {
  const bool jobRunning = AnyJobRunning(state);
  KeepRecordedSettings(state);
  ReleaseSpareRegion(SPARE_PAYLOAD);
  ReleaseSpareRegion(SPARE_WORKING);
  ReleaseSpareRegion(SPARE_VIEW);
  if (state->about.thread != nullptr) osCloseHandle(state->about.thread);
  if (state->filter.thread != nullptr) osCloseHandle(state->filter.thread);
  state->about.thread = nullptr;
  state->filter.thread = nullptr;
  if (jobRunning) {
    // The job may still read the image or its catalogue entry; the process
    // ends right after the loop, and the job with it.
    gJobRunningAtEnd = true;
    return;
  }
  ReleaseTileBlockPool();
  ReleaseOwnedBlock(&state->settings);
  ReleaseOwnedBlock(&state->image);
  ReleaseOwnedBlock(&state->sharedStart);
  FreeBlock(state->catalogue);
  state->catalogue = nullptr;
}
