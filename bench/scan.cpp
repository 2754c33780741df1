// The folder scan of 1,000 plug-in files against reading the same bytes.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "catalogue/folder_scan.h"
#include "catalogue/plugin_catalog.h"
#include "editor/plughost_client.h"
#include "base/memory.h"
#include "tests/catalogue/catalogue_support.h"

namespace {

bool ReadAll(const std::wstring& path, std::vector<uint8_t>* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr);
  bytes->resize(size);
  DWORD got = 0;
  BOOL ok = ReadFile(file, bytes->data(), size, &got, nullptr);
  CloseHandle(file);
  return ok && got == size;
}

}  // namespace

int main() {
  std::vector<uint8_t> module;
  if (!ReadAll(FixturePath(L"plugins\\blur.8bf"), &module)) {
    fprintf(stderr, "scan bench: the blur fixture is missing\n");
    return 1;
  }
  // Padded to 100 KB with bytes that look like code, not zeros.
  uint32_t seed = 99;
  while (module.size() < 100 * 1024) module.push_back(static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24));

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"plughost-scan-bench";
  const std::wstring top = root + L"\\Plug-ins";
  const std::wstring linked = root + L"\\Linked";
  RemoveTree(root);
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW(top.c_str(), nullptr);
  CreateDirectoryW(linked.c_str(), nullptr);
  // 600 at the top, 4 subfolders of 50, 200 behind a shortcut.
  std::vector<std::wstring> files;
  for (int i = 0; i < 600; ++i) files.push_back(top + L"\\f" + std::to_wstring(i) + L".8bf");
  for (int s = 0; s < 4; ++s) {
    std::wstring sub = top + L"\\Sub" + std::to_wstring(s);
    CreateDirectoryW(sub.c_str(), nullptr);
    for (int i = 0; i < 50; ++i) files.push_back(sub + L"\\g" + std::to_wstring(i) + L".8bf");
  }
  for (int i = 0; i < 200; ++i) files.push_back(linked + L"\\h" + std::to_wstring(i) + L".8bf");
  for (const std::wstring& f : files)
    if (!WriteBytes(f, module)) {
      fprintf(stderr, "scan bench: cannot write the tree\n");
      return 1;
    }
  if (!MakeShortcut(top + L"\\Linked.lnk", linked)) {
    fprintf(stderr, "scan bench: cannot make the shortcut\n");
    return 1;
  }

  // Scan and read alternate, so both meet the same cache and the same load
  // from other programs; the best round of each counts.
  uint32_t listed = 0;
  std::vector<uint8_t> bytes;
  double scan = 1e30, read = 1e30;
  for (int round = 0; round < 9; ++round) {
    scan = std::min(scan, BestOf(1, [&] {
      PluginCatalog* c = ScanPluginFolder(top.c_str());
      listed = c != nullptr ? c->count : 0;
      FreeBlock(c);
    }));
    read = std::min(read, BestOf(1, [&] {
      for (const std::wstring& f : files) ReadAll(f, &bytes);
    }));
  }
  if (listed != files.size()) fprintf(stderr, "scan bench: listed %u of %zu\n", listed, files.size());

  // The same scan asked through the server, reply included.
  double served = 0;
  PlughostClient client;
  if (PlughostStart(&client, BenchServerExe().c_str())) {
    PlughostReply reply;
    std::wstring payload = top;
    served = BestOf(3, [&] {
      PlughostRequest(&client, REQ_SCAN_FOLDER, 0, payload.c_str(), static_cast<uint32_t>(payload.size() * 2), &reply);
      PlughostFreeReply(&reply);
    });
    PlughostQuit(&client);
    PlughostWaitExit(&client, 20000, nullptr);
    PlughostClose(&client);
  }

  const double mb = static_cast<double>(module.size()) * files.size() / 1e6;
  Figure("scan_1000_files", scan * 1e3, "ms");
  Figure("read_1000_files", read * 1e3, "ms");
  Figure("scan_vs_read", scan / read, "x");
  Figure("scan_throughput", mb / scan, "MB/s");
  if (served > 0) {
    Figure("scan_request_1000_files", served * 1e3, "ms");
    Figure("scan_request_vs_read", served / read, "x");
  }
  RemoveTree(root);
  return 0;
}
