// The client end of the editor's named pipe: exact byte counts with overlapped
// I/O and fixed time limits.
#pragma once
#include <cstdint>
#include "base/text.h"

using PipeContinueHook = int32_t (*)(void* userData);

constexpr uint32_t PIPE_READ_LIMIT_MS = 60000;
constexpr uint32_t PIPE_WRITE_LIMIT_MS = 20000;
constexpr uint32_t PIPE_BUSY_LIMIT_MS = 30000;
constexpr uint32_t PIPE_WAIT_SLICE_MS = 50;
constexpr uint32_t PIPE_BUSY_RETRY_MS = 10;

struct PipeChannel {
  wchar_t name[PIPE_NAME_UNITS];
  void* handle;  // INVALID_HANDLE_VALUE until connected
  PipeContinueHook continueHook;
  void* hookUserData;
  // The limits in force; PipeConnect sets the standard ones. Only tests in the
  // same process lower them.
  uint32_t readLimitMs;
  uint32_t writeLimitMs;
  // The system's error code of the call that failed the last connect or
  // transfer; 0 after success, a time limit, a short count or the hook.
  uint32_t systemError;
  // The transfers' event, made by the first and kept until the close: each
  // one made and closed costs two calls to Wine's server, and a poll that
  // waits makes four transfers.
  void* event;
};

// Trims the name, connects to \\.\pipe\<name>; retries a busy pipe every
// 10 ms for up to busyLimitMs.
bool PipeConnect(PipeChannel* channel, const wchar_t* name, uint32_t busyLimitMs = PIPE_BUSY_LIMIT_MS);
bool PipeRead(PipeChannel* channel, void* buffer, uint32_t length);
bool PipeWrite(PipeChannel* channel, const void* buffer, uint32_t length);
void PipeClose(PipeChannel* channel);
