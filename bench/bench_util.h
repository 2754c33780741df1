// Shared by the benchmarks: timing and the figure format.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "call/job_record.h"
#include "editor/plughost_client.h"

inline double Seconds() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

inline void Figure(const char* name, double value, const char* unit) {
  printf("%s %.3g %s\n", name, value, unit);
  fflush(stdout);
}

inline std::wstring BenchServerExe() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  while (n > 0 && path[n - 1] != L'\\') --n;
  path[n] = 0;
#if defined(_WIN64)
  return std::wstring(path) + L"plughost64.exe";
#else
  return std::wstring(path) + L"plughost32.exe";
#endif
}

// One request; the status, or -1 when no reply came. The reply's payload
// goes to `out` when given.
inline int64_t Request(PlughostClient* c, uint32_t kind, int64_t arg, const void* p, uint32_t n,
                       std::vector<uint8_t>* out) {
  PlughostReply reply;
  if (!PlughostRequest(c, kind, arg, p, n, &reply)) return -1;
  if (out != nullptr) out->assign(reply.payload, reply.payload + reply.length);
  int64_t status = reply.header.argument;
  PlughostFreeReply(&reply);
  return status;
}

// Host settings and a scan of the samples beside the benchmark: the index of
// the sample `name` (its catalogue entry in *entry), or -1.
inline int64_t PrepareSampleServer(PlughostClient* c, const wchar_t* name, PluginEntry* entry) {
  HostSettings host{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow())), 0, 0xFFFFFF};
  Request(c, REQ_SET_HOST, 0, &host, sizeof(host), nullptr);
  wchar_t folder[MAX_PATH];
  PlughostProgramFolder(folder, MAX_PATH);
  std::wstring samples = std::wstring(folder) + L"samples";
  std::vector<uint8_t> catalogue;
  Request(c, REQ_SCAN_FOLDER, 0, samples.c_str(), static_cast<uint32_t>(samples.size() * 2), &catalogue);
  uint32_t count = 0;
  if (catalogue.size() >= 4) memcpy(&count, catalogue.data(), 4);
  for (uint32_t i = 0; i < count && catalogue.size() >= 8 + (i + 1) * sizeof(PluginEntry); ++i) {
    memcpy(entry, catalogue.data() + 8 + i * sizeof(PluginEntry), sizeof(*entry));
    if (wcscmp(entry->name, name) == 0) return i;
  }
  return -1;
}

// Best of `rounds` runs of f(), in seconds.
template <class F>
double BestOf(int rounds, F&& f) {
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    double t0 = Seconds();
    f();
    double t = Seconds() - t0;
    if (t < best) best = t;
  }
  return best;
}

// Writes `length` bytes from another thread into one end of a fresh pipe of
// the library's kind, in calls of at most `piece` bytes, and gathers them at
// the other, as an editor reads a reply: the bare pipe, without the server.
// The baselines use the pieces both ends of ours use, the pipe's best.
inline double BarePipeTransfer(const uint8_t* bytes, uint8_t* into, uint32_t length, int rounds,
                               uint32_t piece = PIPE_PIECE_BYTES) {
  PlughostClient bare;
  PlughostCreatePipe(&bare, nullptr);
  std::wstring path = std::wstring(L"\\\\.\\pipe\\") + bare.pipeName;
  HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  double best = BestOf(rounds, [&] {
    std::thread writer([&] {
      for (uint32_t sent = 0; sent < length;) {
        DWORD n = 0;
        if (!WriteFile(other, bytes + sent, std::min(piece, length - sent), &n, nullptr) || n == 0) break;
        sent += n;
      }
    });
    uint32_t got = 0;
    while (got < length) {
      DWORD n = 0;
      OVERLAPPED ov{};
      ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      if (!ReadFile(bare.pipe, into + got, std::min(piece, length - got), &n, &ov))
        GetOverlappedResult(bare.pipe, &ov, &n, TRUE);
      CloseHandle(ov.hEvent);
      if (n == 0) break;
      got += n;
    }
    writer.join();
  });
  CloseHandle(other);
  PlughostClose(&bare);
  return best;
}

// Moves `length` bytes through an overlapped pipe handle in calls of at most
// `piece` bytes, each waited for.
inline bool BareMove(HANDLE h, uint8_t* bytes, uint32_t length, uint32_t piece, bool writing) {
  for (uint32_t done = 0; done < length;) {
    DWORD moved = 0;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const uint32_t n = std::min(piece, length - done);
    BOOL ok = writing ? WriteFile(h, bytes + done, n, &moved, &ov) : ReadFile(h, bytes + done, n, &moved, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(h, &ov, &moved, TRUE);
    CloseHandle(ov.hEvent);
    if (!ok || moved == 0) return false;
    done += moved;
  }
  return true;
}

// The bare pipe as the server has it: the far end in a process of its own
// (pipe_peer beside the benchmark) that opens the pipe and moves the bytes
// with the server's own pipe code, at its request loop's priority.
struct BarePeer {
  PlughostClient pipe;
  HANDLE process = nullptr;
  uint32_t length = 0;
};

inline bool StartBarePeer(BarePeer* peer, uint32_t length) {
  if (!PlughostCreatePipe(&peer->pipe, nullptr)) return false;
  peer->length = length;
  std::wstring exe = BenchServerExe();
  exe = exe.substr(0, exe.rfind(L'\\') + 1) + L"pipe_peer.exe";
  std::wstring line = L"\"" + exe + L"\" " + peer->pipe.pipeName + L" " + std::to_wstring(length);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  peer->process = pi.hProcess;
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD ignored = 0;
  BOOL connected = ConnectNamedPipe(peer->pipe.pipe, &ov) || GetLastError() == ERROR_PIPE_CONNECTED ||
                   (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(peer->pipe.pipe, &ov, &ignored, TRUE));
  CloseHandle(ov.hEvent);
  return connected != 0;
}

// Seconds for `bytes` to reach the peer, until its one-byte answer.
inline double BarePeerTo(BarePeer* peer, uint8_t* bytes) {
  uint8_t signal = 0;
  const double t0 = Seconds();
  if (!BareMove(peer->pipe.pipe, bytes, peer->length, PIPE_PIECE_BYTES, true) ||
      !BareMove(peer->pipe.pipe, &signal, 1, 1, false))
    return 1e30;
  return Seconds() - t0;
}

// Seconds from a one-byte ask until the peer's bytes are all in `into`.
inline double BarePeerBack(BarePeer* peer, uint8_t* into) {
  uint8_t signal = 1;
  const double t0 = Seconds();
  if (!BareMove(peer->pipe.pipe, &signal, 1, 1, true) ||
      !BareMove(peer->pipe.pipe, into, peer->length, PIPE_PIECE_BYTES, false))
    return 1e30;
  return Seconds() - t0;
}

inline void StopBarePeer(BarePeer* peer) {
  PlughostClosePipe(&peer->pipe);
  if (peer->process != nullptr) {
    WaitForSingleObject(peer->process, 20000);
    CloseHandle(peer->process);
  }
  peer->process = nullptr;
}

// A Filter job on `pixels` for running the call in this process, as the
// server would set it up for a piped image at 72 dpi.
inline void InProcessJob(JobRecord* job, uint32_t width, uint32_t height, uint8_t* pixels, PluginEntry* entry) {
  job->self = job;
  job->hostWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow()));
  job->width = job->rowPixels = width;
  job->height = height;
  job->pixels = pixels;
  job->horizontalResolution = job->verticalResolution = 72.0;
  job->ImageAccessBegin = ImageAccessBegin;
  job->ImageAccessEnd = ImageAccessEnd;
  job->ImageAccessCheck = ImageAccessCheck;
  job->progress = JobProgress;
  job->entry = entry;
}
