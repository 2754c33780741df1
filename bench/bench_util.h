// Shared by the benchmarks: timing and the figure format.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

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
