#include "server/pipe_channel.h"

#include "server/system_calls.h"

#include <cstring>

#include "base/clock.h"

// Keeps the failed call's error code in the channel and answers false.
static bool Failed(PipeChannel* channel) {
  DWORD code = GetLastError();
  channel->systemError = code != 0 ? code : ERROR_GEN_FAILURE;
  return false;
}

bool PipeConnect(PipeChannel* channel, const wchar_t* name, uint32_t busyLimitMs) {
  if (channel == nullptr || name == nullptr) return false;
  wchar_t work[PATH_UNITS];
  BoundedCopyW(work, PATH_UNITS, name);
  TrimW(work, kCommandLineTrimSet);
  memset(channel, 0, sizeof(*channel));
  channel->handle = INVALID_HANDLE_VALUE;
  channel->readLimitMs = PIPE_READ_LIMIT_MS;
  channel->writeLimitMs = PIPE_WRITE_LIMIT_MS;
  BoundedCopyW(channel->name, PIPE_NAME_UNITS, work);
  // The bare namespace path opens under Wine; an empty name never connects.
  if (channel->name[0] == 0) return false;
  wchar_t path[PATH_UNITS];
  BoundedFormatW(path, PATH_UNITS, L"\\\\.\\pipe\\%ls", channel->name);
  ClockStamp start = ClockNow();
  for (;;) {
    // The editor needs only to know who connected. Without a quality of
    // service, whoever created a pipe of this name first could act as our
    // user in full.
    HANDLE h = osCreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      channel->handle = h;
      return true;
    }
    if (GetLastError() != ERROR_PIPE_BUSY) return Failed(channel);
    if (MillisecondsFromSeconds(ClockElapsed(start, ClockNow())) > busyLimitMs) return Failed(channel);
    osSleep(PIPE_BUSY_RETRY_MS);
  }
}

// One transfer of exactly `length` bytes; the two directions differ only in
// the call and the limit.
static bool Transfer(PipeChannel* channel, void* buffer, uint32_t length, bool writing) {
  if (channel == nullptr) return false;
  channel->systemError = 0;
  if (channel->continueHook != nullptr && channel->continueHook(channel->hookUserData) == 0) return false;
  OVERLAPPED overlapped;
  memset(&overlapped, 0, sizeof(overlapped));
  overlapped.hEvent = osCreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return Failed(channel);
  const uint32_t limit = writing ? channel->writeLimitMs : channel->readLimitMs;
  HANDLE h = channel->handle;
  ClockStamp start = ClockNow();
  DWORD count = 0;
  BOOL done = writing ? osWriteFile(h, buffer, length, &count, &overlapped)
                      : osReadFile(h, buffer, length, &count, &overlapped);
  if (!done) {
    if (GetLastError() != ERROR_IO_PENDING) {
      Failed(channel);
      osCloseHandle(overlapped.hEvent);
      return false;
    }
    osWaitForSingleObject(overlapped.hEvent, PIPE_WAIT_SLICE_MS);
    while (overlapped.Internal == STATUS_PENDING) {
      bool expired = MillisecondsFromSeconds(ClockElapsed(start, ClockNow())) > limit;
      bool refused = channel->continueHook != nullptr && channel->continueHook(channel->hookUserData) == 0;
      if (expired || refused) {
        osCancelIo(h);
        // Let the cancelled operation finish before its OVERLAPPED goes away.
        DWORD ignored = 0;
        osGetOverlappedResult(h, &overlapped, &ignored, TRUE);
        osCloseHandle(overlapped.hEvent);
        return false;
      }
      osWaitForSingleObject(overlapped.hEvent, PIPE_WAIT_SLICE_MS);
    }
    if (!osGetOverlappedResult(h, &overlapped, &count, FALSE)) {
      Failed(channel);
      count = 0;
    }
  }
  osCloseHandle(overlapped.hEvent);
  return count >= length;
}

bool PipeRead(PipeChannel* channel, void* buffer, uint32_t length) { return Transfer(channel, buffer, length, false); }

bool PipeWrite(PipeChannel* channel, const void* buffer, uint32_t length) {
  return Transfer(channel, const_cast<void*>(buffer), length, true);
}

void PipeClose(PipeChannel* channel) {
  if (channel == nullptr) return;
  if (channel->handle != nullptr && channel->handle != INVALID_HANDLE_VALUE) osCloseHandle(channel->handle);
  channel->handle = INVALID_HANDLE_VALUE;
}
