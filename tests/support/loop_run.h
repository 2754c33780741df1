// The server's request loop without its pipe: a zeroed loop state on which
// requests are answered in-process, released at the end with all it holds.
#pragma once
#include <cstdint>
#include <vector>

#include "server/loop_state.h"

struct LoopRun {
  LoopState* state;
  LoopRun();
  // Lets held jobs end, waits for every job thread, then releases the state.
  ~LoopRun();
  LoopRun(const LoopRun&) = delete;
  LoopRun& operator=(const LoopRun&) = delete;

  // Answers one request as the loop would; the reply payload goes to `reply`
  // when given. Returns the reply's status.
  int64_t Ask(uint32_t kind, int64_t argument, const std::vector<uint8_t>& payload,
              std::vector<uint8_t>* reply = nullptr);
  // Gives the slot a job thread that runs until the run ends or Release().
  bool HoldJob(JobSlot* slot);
  void Release();

 private:
  void* release_;
};
