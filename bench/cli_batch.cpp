// The tool's batch on 40 PNG images of 1024 × 1024 through the sample Invert
// plug-in: one server, then one server per processor, in images per second.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "editor/cli/file_win32.h"
#include "editor/cli/image_codec.h"

namespace {

constexpr uint32_t kSide = 1024;
constexpr int kImages = 40;

std::wstring Beside(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  PlughostProgramFolder(folder, MAX_PATH);
  return std::wstring(folder) + name;
}

// A smooth image, as photos are, each one a little different.
std::vector<uint8_t> ImageFile(int n) {
  RasterImage image;
  image.width = image.height = kSide;
  image.bgra.resize(static_cast<size_t>(kSide) * kSide * 4);
  for (uint32_t y = 0; y < kSide; ++y)
    for (uint32_t x = 0; x < kSide; ++x) {
      uint8_t* p = &image.bgra[(static_cast<size_t>(y) * kSide + x) * 4];
      p[0] = static_cast<uint8_t>(x / 5 + n);
      p[1] = static_cast<uint8_t>(y / 3);
      p[2] = static_cast<uint8_t>((x + y) / 9);
      p[3] = 255;
    }
  std::vector<uint8_t> png;
  std::string error;
  EncodeImage(image, IMAGE_FILE_PNG, &png, &error);
  return png;
}

// Runs the tool and answers its time in seconds, or a negative number when
// it did not end with 0.
double RunBatch(const std::wstring& arguments) {
  std::wstring line = L"\"" + Beside(L"plughost-cli.exe") + L"\" " + arguments;
  // Its lines go nowhere: only the figures are this program's output.
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul;
  PROCESS_INFORMATION pi;
  double t0 = Seconds();
  BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(nul);
  if (!started) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  double t = Seconds() - t0;
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code == 0 ? t : -1;
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring work = std::wstring(temp) + L"plughost-bench-batch-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring out = work + L"\\out";
  CreateDirectoryW(work.c_str(), nullptr);
  CreateDirectoryW(out.c_str(), nullptr);
  std::wstring inputs;
  std::vector<std::wstring> files;
  for (int i = 0; i < kImages; ++i) {
    std::vector<uint8_t> png = ImageFile(i);
    files.push_back(work + L"\\image" + std::to_wstring(i) + L".png");
    std::string error;
    if (!WriteFileAtomically(files.back(), png.data(), png.size(), &error)) return 1;
    inputs += L" \"" + files.back() + L"\"";
  }
  const uint32_t processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  const std::wstring rest = L" --quiet \"" + Beside(L"samples") + L"\" Invert \"" + out + L"\"" + inputs;
  // Alternating rounds, so that both see the same load; the best of each.
  double one = 1e30, many = 1e30;
  for (int round = 0; round < 2; ++round) {
    double t1 = RunBatch(L"batch -j 1" + rest);
    double tn = RunBatch(L"batch -j " + std::to_wstring(processors) + rest);
    if (t1 < 0 || tn < 0) return 1;
    one = std::min(one, t1);
    many = std::min(many, tn);
  }
  for (const std::wstring& f : files) {
    DeleteFileW(f.c_str());
    DeleteFileW((out + f.substr(f.find_last_of(L'\\'))).c_str());
  }
  RemoveDirectoryW(out.c_str());
  RemoveDirectoryW(work.c_str());
  Figure("cli_batch_j1", kImages / one, "images/s");
  Figure("cli_batch_jN", kImages / many, "images/s");
  Figure("cli_batch_processors", processors, "processors");
  Figure("cli_batch_speedup", one / many, "x");
  return 0;
}
