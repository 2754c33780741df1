// Shared by the benchmarks: timing and the figure format.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

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
// the library's kind and gathers them at the other, as an editor reads a
// reply: the bare pipe, without the server.
inline double BarePipeTransfer(const uint8_t* bytes, uint8_t* into, uint32_t length, int rounds) {
  PlughostClient bare;
  PlughostCreatePipe(&bare, nullptr);
  std::wstring path = std::wstring(L"\\\\.\\pipe\\") + bare.pipeName;
  HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  double best = BestOf(rounds, [&] {
    std::thread writer([&] {
      DWORD n = 0;
      WriteFile(other, bytes, length, &n, nullptr);
    });
    uint32_t got = 0;
    while (got < length) {
      DWORD n = 0;
      OVERLAPPED ov{};
      ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      if (!ReadFile(bare.pipe, into + got, length - got, &n, &ov)) GetOverlappedResult(bare.pipe, &ov, &n, TRUE);
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
