#include "tests/catalogue/catalogue_support.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "tests/support/server_session.h"

std::wstring FixturePath(const wchar_t* relative) { return BesideTest(L"catalogue\\") + relative; }

static void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
      else DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

ScratchFolder::ScratchFolder() {
  static std::atomic<uint32_t> serial{0};
  wchar_t temp[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, temp);
  while (n > 0 && (temp[n - 1] == L'\\' || temp[n - 1] == L'/')) temp[--n] = 0;
  path = std::wstring(temp) + L"\\plughost-catalogue-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(++serial);
  RemoveTree(path);
  CreateDirectoryW(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path); }

bool MakeFolder(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool CopyFixture(const wchar_t* fixture, const std::wstring& to) {
  return CopyFileW(FixturePath(fixture).c_str(), to.c_str(), FALSE) != 0;
}

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

PluginEntry MakeEntry(const std::wstring& path, const std::wstring& name, const std::wstring& entryPoint) {
  PluginEntry e;
  memset(&e, 0, sizeof(e));
  wcsncpy(e.path, path.c_str(), 259);
  wcsncpy(e.name, name.c_str(), 255);
  wcsncpy(e.entryPoint, entryPoint.c_str(), 255);
  return e;
}

std::string Describe(const PluginEntry& entry) {
  return "{" + Narrow(entry.path) + " | " + Narrow(entry.name) + " | " + Narrow(entry.entryPoint) + "}";
}
