#include <cstring>

#include "server/job_threads.h"
#include "server/loop_state.h"
#include "base/memory.h"

void KeepRecordedSettings(LoopState* state) {
  JobSlot* slot = &state->filter;
  JobRecord* record = &slot->record;
  if (slot->thread == nullptr || JobThreadRunning(slot) || record->settingsTaken) return;
  // The thread has ended: what it recorded is complete, and the loop's now.
  ReleaseOwnedBlock(&state->settings);
  state->settings.data = record->recorded;
  state->settings.length = record->recordedBytes;
  state->settings.kind = record->recorded != nullptr ? BLOCK_GLOBAL : BLOCK_NONE;
  record->recorded = nullptr;
  record->recordedBytes = 0;
  record->settingsTaken = 1;
  state->filterJobEnded = true;
}

// While a job runs its settings are not recorded yet, and the last job's are
// not this one's: the editor asks again once the job has ended.
void HandleFetchSettings(LoopState* state) {
  if (JobThreadRunning(&state->filter)) return SetStatus(state, ST_NOT_READY);
  KeepRecordedSettings(state);
  if (!state->filterJobEnded) return SetStatus(state, ST_BAD_INDEX);
  // A run whose block could not be had recorded nothing.
  if (state->settings.data == nullptr) return SetStatus(state, ST_NO_MEMORY);
  uint8_t* payload = AttachReplyPayload(state, static_cast<uint32_t>(state->settings.length));
  if (payload != nullptr) memcpy(payload, state->settings.data, state->settings.length);
}
