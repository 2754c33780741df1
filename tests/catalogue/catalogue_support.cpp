#include "tests/catalogue/catalogue_support.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "tests/support/server_session.h"

std::wstring FixturePath(const wchar_t* relative) { return BesideTest(L"catalogue\\") + relative; }

ScratchFolder::ScratchFolder() : path(FreshFolder(L"catalogue")) {}

ScratchFolder::~ScratchFolder() { RemoveTree(path); }

bool MakeFolder(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool CopyFixture(const wchar_t* fixture, const std::wstring& to) {
  return CopyFileW(FixturePath(fixture).c_str(), to.c_str(), FALSE) != 0;
}

std::vector<uint8_t> FixtureRetargeted(const wchar_t* fixture, uint16_t machine) {
  std::vector<uint8_t> bytes = ReadBytes(FixturePath(fixture));
  uint32_t pe = 0;
  if (bytes.size() >= 0x40) memcpy(&pe, &bytes[0x3C], 4);
  if (bytes.size() < 0x40 || uint64_t{pe} + 6 > bytes.size()) return {};
  bytes[pe + 4] = static_cast<uint8_t>(machine);
  bytes[pe + 5] = static_cast<uint8_t>(machine >> 8);
  return bytes;
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
