// Fixture trees for the catalogue tests: built modules beside the test
// program, scratch folders under the temp folder, shortcuts made at run time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "wire/protocol.h"
#include "tests/catalogue/shortcut.h"
#include "tests/support/files.h"
#include "tests/support/server_session.h"

// A built fixture: catalogue\<relative> beside the test program.
std::wstring FixturePath(const wchar_t* relative);

// A fresh folder under the temp folder, removed with everything in it.
struct ScratchFolder {
  std::wstring path;  // no trailing separator
  ScratchFolder();
  ~ScratchFolder();
  std::wstring operator/(const std::wstring& relative) const { return path + L"\\" + relative; }
};

bool MakeFolder(const std::wstring& path);
bool CopyFixture(const wchar_t* fixture, const std::wstring& to);
// A built fixture's bytes with the processor its header names changed to
// `machine` (0xAA64, ...): a module of another processor without building
// one. Empty when the fixture is missing or too short.
std::vector<uint8_t> FixtureRetargeted(const wchar_t* fixture, uint16_t machine);

// A zeroed entry with these texts.
PluginEntry MakeEntry(const std::wstring& path, const std::wstring& name, const std::wstring& entryPoint);
std::string Describe(const PluginEntry& entry);
