#include "server/pipe_channel.h"

#include "server/system_calls.h"

#include <cstring>

#include "base/clock.h"
#include "wire/protocol.h"

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

// One system call's worth of a transfer: at most `length` bytes, the count
// in *moved; false on an error, the time limit or the hook's refusal.
static bool TransferPiece(PipeChannel* channel, uint8_t* buffer, uint32_t length, bool writing, ClockStamp start,
                          DWORD* moved) {
  if (channel->event == nullptr) channel->event = osCreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (channel->event == nullptr) return Failed(channel);
  // The read or write itself resets the event.
  OVERLAPPED overlapped;
  memset(&overlapped, 0, sizeof(overlapped));
  overlapped.hEvent = channel->event;
  const uint32_t limit = writing ? channel->writeLimitMs : channel->readLimitMs;
  HANDLE h = channel->handle;
  DWORD count = 0;
  BOOL done = writing ? osWriteFile(h, buffer, length, &count, &overlapped)
                      : osReadFile(h, buffer, length, &count, &overlapped);
  if (!done) {
    if (GetLastError() != ERROR_IO_PENDING) return Failed(channel);
    osWaitForSingleObject(overlapped.hEvent, PIPE_WAIT_SLICE_MS);
    while (overlapped.Internal == STATUS_PENDING) {
      bool expired = MillisecondsFromSeconds(ClockElapsed(start, ClockNow())) > limit;
      bool refused = channel->continueHook != nullptr && channel->continueHook(channel->hookUserData) == 0;
      if (expired || refused) {
        osCancelIo(h);
        // Let the cancelled operation finish before its OVERLAPPED goes away.
        DWORD ignored = 0;
        osGetOverlappedResult(h, &overlapped, &ignored, TRUE);
        return false;
      }
      osWaitForSingleObject(overlapped.hEvent, PIPE_WAIT_SLICE_MS);
    }
    if (!osGetOverlappedResult(h, &overlapped, &count, FALSE)) {
      Failed(channel);
      count = 0;
    }
  }
  *moved = count;
  return count > 0;
}

// One transfer of exactly `length` bytes within one time limit; the two
// directions differ only in the call and the limit. It goes in pieces of
// PIPE_PIECE_BYTES: Wine's server buffers each write whole, in memory it
// allocates afresh for one larger than 32 MiB, and a 64 MiB image then moves
// at half the speed.
static bool Transfer(PipeChannel* channel, void* buffer, uint32_t length, bool writing) {
  if (channel == nullptr) return false;
  channel->systemError = 0;
  if (channel->continueHook != nullptr && channel->continueHook(channel->hookUserData) == 0) return false;
  ClockStamp start = ClockNow();
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = length - done < PIPE_PIECE_BYTES ? length - done : PIPE_PIECE_BYTES;
    DWORD moved = 0;
    if (!TransferPiece(channel, bytes + done, piece, writing, start, &moved)) return false;
    done += moved;
  }
  return true;
}

bool PipeRead(PipeChannel* channel, void* buffer, uint32_t length) { return Transfer(channel, buffer, length, false); }

bool PipeWrite(PipeChannel* channel, const void* buffer, uint32_t length) {
  return Transfer(channel, const_cast<void*>(buffer), length, true);
}

void PipeClose(PipeChannel* channel) {
  if (channel == nullptr) return;
  if (channel->handle != nullptr && channel->handle != INVALID_HANDLE_VALUE) osCloseHandle(channel->handle);
  channel->handle = INVALID_HANDLE_VALUE;
  if (channel->event != nullptr) osCloseHandle(channel->event);
  channel->event = nullptr;
}
