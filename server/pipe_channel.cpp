#include "server/pipe_channel.h"

#include <windows.h>
#include <cstring>

#include "base/clock.h"

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
    HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      channel->handle = h;
      return true;
    }
    if (GetLastError() != ERROR_PIPE_BUSY) return false;
    if (MillisecondsFromSeconds(ClockElapsed(start, ClockNow())) > busyLimitMs) return false;
    Sleep(PIPE_BUSY_RETRY_MS);
  }
}

// One transfer of exactly `length` bytes; the two directions differ only in
// the call and the limit.
static bool Transfer(PipeChannel* channel, void* buffer, uint32_t length, bool writing) {
  if (channel == nullptr) return false;
  if (channel->continueHook != nullptr && channel->continueHook(channel->hookUserData) == 0) return false;
  OVERLAPPED overlapped;
  memset(&overlapped, 0, sizeof(overlapped));
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return false;
  const uint32_t limit = writing ? channel->writeLimitMs : channel->readLimitMs;
  HANDLE h = channel->handle;
  ClockStamp start = ClockNow();
  DWORD count = 0;
  BOOL done = writing ? WriteFile(h, buffer, length, &count, &overlapped)
                      : ReadFile(h, buffer, length, &count, &overlapped);
  if (!done) {
    if (GetLastError() != ERROR_IO_PENDING) {
      CloseHandle(overlapped.hEvent);
      return false;
    }
    WaitForSingleObject(overlapped.hEvent, PIPE_WAIT_SLICE_MS);
    while (overlapped.Internal == STATUS_PENDING) {
      bool expired = MillisecondsFromSeconds(ClockElapsed(start, ClockNow())) > limit;
      bool refused = channel->continueHook != nullptr && channel->continueHook(channel->hookUserData) == 0;
      if (expired || refused) {
        CancelIo(h);
        // Let the cancelled operation finish before its OVERLAPPED goes away.
        DWORD ignored = 0;
        GetOverlappedResult(h, &overlapped, &ignored, TRUE);
        CloseHandle(overlapped.hEvent);
        return false;
      }
      WaitForSingleObject(overlapped.hEvent, PIPE_WAIT_SLICE_MS);
    }
    if (!GetOverlappedResult(h, &overlapped, &count, FALSE)) count = 0;
  }
  CloseHandle(overlapped.hEvent);
  return count >= length;
}

bool PipeRead(PipeChannel* channel, void* buffer, uint32_t length) { return Transfer(channel, buffer, length, false); }

bool PipeWrite(PipeChannel* channel, const void* buffer, uint32_t length) {
  return Transfer(channel, const_cast<void*>(buffer), length, true);
}

void PipeClose(PipeChannel* channel) {
  if (channel == nullptr) return;
  if (channel->handle != nullptr && channel->handle != INVALID_HANDLE_VALUE) CloseHandle(channel->handle);
  channel->handle = INVALID_HANDLE_VALUE;
}
