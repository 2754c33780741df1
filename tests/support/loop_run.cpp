#include "tests/support/loop_run.h"

#include <windows.h>

#include <cstring>

#include "base/memory.h"

namespace {
DWORD WINAPI WaitForRelease(void* event) {
  WaitForSingleObject(event, INFINITE);
  return 0;
}
}  // namespace

LoopRun::LoopRun()
    : state(static_cast<LoopState*>(AllocZeroed(sizeof(LoopState)))),
      release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

LoopRun::~LoopRun() {
  Release();
  // A job that never ends would leave its blocks to the process's end.
  for (JobSlot* slot : {&state->about, &state->filter})
    if (slot->thread != nullptr) WaitForSingleObject(slot->thread, 120000);
  ReleaseLoopState(state);
  FreeBlock(state);
  CloseHandle(release_);
}

int64_t LoopRun::Ask(uint32_t kind, int64_t argument, const std::vector<uint8_t>& payload,
                     std::vector<uint8_t>* reply) {
  memset(&state->request, 0, sizeof(state->request));
  state->request.kind = kind;
  state->request.argument = argument;
  state->request.payloadLength = static_cast<uint32_t>(payload.size());
  if (!payload.empty()) {
    if (!OwnZeroedBlock(&state->requestPayload, payload.size())) return -1;
    memcpy(state->requestPayload.data, payload.data(), payload.size());
  }
  AnswerRequest(state);
  if (reply != nullptr) {
    const uint8_t* data = state->replyPayload.data;
    reply->assign(data, data + (data != nullptr ? state->reply.payloadLength : 0));
  }
  ReleaseOwnedBlock(&state->replyPayload);
  return state->reply.argument;
}

bool LoopRun::HoldJob(JobSlot* slot) {
  slot->thread = CreateThread(nullptr, 0, WaitForRelease, release_, 0, nullptr);
  return slot->thread != nullptr;
}

void LoopRun::Release() { SetEvent(release_); }
