// The reader, the folder walk and the module loader on real fixture modules.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/folder_scan.h"
#include "catalogue/module_loader.h"
#include "catalogue/plugin_catalog.h"
#include "gtest/gtest.h"
#include "base/memory.h"
#include "tests/catalogue/catalogue_support.h"

namespace {

// A catalogue block of the given capacity, freed at the end of the test.
struct TestCatalog {
  PluginCatalog* c;
  explicit TestCatalog(uint32_t capacity) {
    c = static_cast<PluginCatalog*>(AllocZeroed(CatalogueBlockBytes(capacity)));
    c->capacity = capacity;
  }
  ~TestCatalog() { FreeBlock(c); }
};

struct Listed {
  std::wstring path, name, entryPoint;
  bool operator==(const Listed& o) const { return path == o.path && name == o.name && entryPoint == o.entryPoint; }
  bool operator<(const Listed& o) const {
    return path != o.path ? path < o.path : name != o.name ? name < o.name : entryPoint < o.entryPoint;
  }
};

void PrintTo(const Listed& l, std::ostream* os) {
  *os << "{" << Narrow(l.path) << " | " << Narrow(l.name) << " | " << Narrow(l.entryPoint) << "}";
}

std::vector<Listed> Entries(PluginCatalog* c, bool sorted = false) {
  std::vector<Listed> out;
  for (uint32_t i = 0; c != nullptr && i < c->count; ++i) {
    PluginEntry* e = CatalogueEntry(c, i);
    out.push_back({e->path, e->name, e->entryPoint});
  }
  if (sorted) std::sort(out.begin(), out.end());
  return out;
}

uint32_t Read(PluginCatalog* c, const std::wstring& path) {
  PluginEntry entry = MakeEntry(path, L"", L"");
  return ReadPluginProperties(c, &entry);
}

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

}  // namespace

// ---- Reader ----

TEST(PluginReader, FixtureModulesGiveTheirPairs) {
  struct Case {
    const wchar_t* file;
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
  } cases[] = {
      {L"plugins\\blur.8bf", {{L"Blur", L"PluginMain"}}},
      {L"plugins\\twins.8bf", {{L"Twin One", L"TwinOneMain"}, {L"Twin Two", L"TwinTwoMain"}}},
#if defined(_WIN64)
      // The first PiPL declares only an x86 entry point: nothing of it is
      // listed here, and the second PiPL keeps its own name.
      {L"plugins\\late_code.8bf", {{L"Late", L"LateMain"}}},
#else
      {L"plugins\\late_code.8bf", {{L"Early", L"EarlyMain"}, {L"Late", L"LateMain"}}},
#endif
      {L"plugins\\short_name.8bf", {{L"Sharp", L"PluginMain"}}},
      {L"plugins\\ordinal_only.8bf", {{L"Ordinal", L"#1"}}},
      // As they declare themselves, not as their bytes happen to read.
      {L"declared\\code_first.8bf", {{L"Code First", L"CodeFirstMain"}}},
      {L"declared\\stray_signature.8bf", {{L"Stray", L"PluginMain"}}},
      {L"declared\\truncated.8bf", {{L"Whole", L"PluginMain"}}},
      {L"declared\\odd_lengths.8bf", {{L"Odds", L"PluginMain"}}},
      {L"declared\\long_length_byte.8bf", {{L"Blu", L"PluginMain"}}},
      {L"declared\\two_languages.8bf", {{L"Bilingual", L"PluginMain"}}},
      // The broken entry ends the walk: the PiPL after it is not reached.
      {L"declared\\looped_directory.8bf", {{L"Before", L"PluginMain"}}},
      {L"declared\\outside_directory.8bf", {{L"Before", L"PluginMain"}}},
  };
  for (const Case& c : cases) {
    TestCatalog cat(8);
    std::wstring path = FixturePath(c.file);
    EXPECT_EQ(1u, Read(cat.c, path)) << Narrow(c.file);
    std::vector<Listed> expected;
    for (auto& p : c.pairs) expected.push_back({path, p.first, p.second});
    EXPECT_EQ(expected, Entries(cat.c)) << Narrow(c.file);
  }
}

TEST(PluginReader, WithoutPairsTheTrialLoadDecides) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteBytes(scratch / L"empty.8bf", {}));
  ASSERT_TRUE(WriteBytes(scratch / L"text.8bf", {'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'd', 'u', 'l', 'e'}));
  TestCatalog cat(8);
  EXPECT_EQ(1u, Read(cat.c, FixturePath(L"nopipl\\no_pipl.8bf")));
  EXPECT_EQ(0u, Read(cat.c, FixturePath(L"broken\\missing_import.8bf")));
  // Built for the other processor: its PiPL is not read, and the loader
  // refuses it. Windows answers ERROR_BAD_EXE_FORMAT; so does Wine.
  EXPECT_EQ(0u, Read(cat.c, FixturePath(L"declared\\foreign.8bf")));
  SetLastError(0xDEADBEEF);
  HMODULE foreign = LoadLibraryExW(FixturePath(L"declared\\foreign.8bf").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  EXPECT_EQ(nullptr, foreign);
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_EXE_FORMAT), GetLastError());
  if (foreign != nullptr) FreeLibrary(foreign);
  EXPECT_EQ(0u, Read(cat.c, scratch / L"empty.8bf"));
  EXPECT_EQ(0u, Read(cat.c, scratch / L"text.8bf"));
  EXPECT_EQ(0u, Read(cat.c, scratch / L"missing.8bf"));
  EXPECT_EQ(0u, cat.c->count);
}

TEST(PluginReader, FullCatalogueCountsButDoesNotStore) {
  TestCatalog cat(1);
  EXPECT_EQ(1u, Read(cat.c, FixturePath(L"plugins\\twins.8bf")));
  EXPECT_EQ(1u, cat.c->count);
  EXPECT_EQ(L"Twin One", Entries(cat.c).at(0).name);
  // Nothing was written into the spare room after the last slot.
  const uint8_t* spare = reinterpret_cast<const uint8_t*>(CatalogueEntry(cat.c, 1));
  EXPECT_EQ(spare + CATALOGUE_SPARE_BYTES, std::find_if(spare, spare + CATALOGUE_SPARE_BYTES, [](uint8_t b) { return b != 0; }));
}

// ---- Folder walk ----

TEST(FolderScan, ShortcutsExtensionsAndFolderNames) {
  ScratchFolder root, other;
  ASSERT_TRUE(CopyFixture(L"plugins\\blur.8bf", root / L"Blur.8BF"));
  ASSERT_TRUE(MakeShortcut(root / L"Blur.8bf.lnk", root / L"Blur.8BF"));
  ASSERT_TRUE(CopyFixture(L"plugins\\twins.8bf", other / L"twins.8bf"));
  ASSERT_TRUE(MakeShortcut(root / L"More.lnk", other.path));
  ASSERT_TRUE(MakeFolder(root / L"Effects.8bf"));
  ASSERT_TRUE(CopyFixture(L"plugins\\short_name.8bf", root / L"Effects.8bf\\Sharpen.8bf"));
  ASSERT_TRUE(CopyFixture(L"plugins\\blur.8bf", root / L"blur.dll"));  // not by its name

  PluginCatalog* c = ScanPluginFolder(root.path.c_str());
  ASSERT_NE(nullptr, c);
  std::vector<Listed> expected = {
      {root / L"Blur.8BF", L"Blur", L"PluginMain"},
      {root / L"Effects.8bf\\Sharpen.8bf", L"Sharp", L"PluginMain"},
      // Found through More.lnk, listed under the target folder.
      {other / L"twins.8bf", L"Twin One", L"TwinOneMain"},
      {other / L"twins.8bf", L"Twin Two", L"TwinTwoMain"},
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Entries(c, true));
  EXPECT_EQ(c->count, c->capacity);
  FreeBlock(c);
}

TEST(FolderScan, ShortcutCyclesEnd) {
  ScratchFolder root;
  ASSERT_TRUE(CopyFixture(L"plugins\\blur.8bf", root / L"Blur.8bf"));
  ASSERT_TRUE(MakeShortcut(root / L"Self.lnk", root.path));
  ASSERT_TRUE(MakeFolder(root / L"Sub"));
  ASSERT_TRUE(MakeShortcut(root / L"Sub\\Up.lnk", root.path + L"\\"));
  ASSERT_TRUE(MakeShortcut(root / L"Sub\\Again.lnk", root / L"Sub"));
  PluginCatalog* c = ScanPluginFolder((root.path + L"/").c_str());
  ASSERT_NE(nullptr, c);
  EXPECT_EQ((std::vector<Listed>{{root / L"Blur.8bf", L"Blur", L"PluginMain"}}), Entries(c));
  FreeBlock(c);
}

TEST(FolderScan, DeepChainStopsAtTheDepthLimit) {
  // Each folder holds a shortcut to the next one, one more than the limit,
  // and the last one a plug-in: it stays out of reach.
  ScratchFolder root;
  std::vector<std::wstring> folders;
  for (uint32_t i = 0; i <= SCAN_MAX_DEPTH + 1; ++i) {
    folders.push_back(root / (L"f" + std::to_wstring(i)));
    ASSERT_TRUE(MakeFolder(folders.back()));
  }
  for (size_t i = 0; i + 1 < folders.size(); ++i)
    ASSERT_TRUE(MakeShortcut(folders[i] + L"\\next.lnk", folders[i + 1]));
  ASSERT_TRUE(CopyFixture(L"plugins\\blur.8bf", folders[SCAN_MAX_DEPTH] + L"\\Reached.8bf"));
  ASSERT_TRUE(CopyFixture(L"plugins\\blur.8bf", folders[SCAN_MAX_DEPTH + 1] + L"\\TooDeep.8bf"));
  PluginCatalog* c = ScanPluginFolder(folders[0].c_str());
  ASSERT_NE(nullptr, c);
  EXPECT_EQ((std::vector<Listed>{{folders[SCAN_MAX_DEPTH] + L"\\Reached.8bf", L"Blur", L"PluginMain"}}), Entries(c));
  FreeBlock(c);
}

TEST(FolderScan, SmallerCatalogueWhenTheLargestCannotBeAllocated) {
  SetAllocationFailureAt(1);  // the block for 2048 entries
  PluginCatalog* c = ScanPluginFolder(FixturePath(L"plugins").c_str());
  SetAllocationFailureAt(0);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(7u, c->count);
  FreeBlock(c);
}

TEST(FolderScan, SpentBudgetStopsAfterTheFirstEntry) {
  ScratchFolder root;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(CopyFixture(L"plugins\\blur.8bf", root / (L"p" + std::to_wstring(i) + L".8bf")));
  TestCatalog cat(16);
  // The first entry may be "." or a plug-in; nothing after it is read.
  EXPECT_GE(1u, ScanFolder(cat.c, root.path.c_str(), 0.0));
  EXPECT_GE(1u, cat.c->count);
}

// ---- Module loading ----

TEST(ModuleLoader, FindsEntryPointsByNameOrdinalAndTrimmedName) {
  struct Case {
    const wchar_t* file;
    const wchar_t* entryPoint;
    const wchar_t* kept;
  } cases[] = {
      {L"plugins\\blur.8bf", L"PluginMain", L"PluginMain"},
      {L"plugins\\blur.8bf", L" PluginMain\r\n", L"PluginMain"},
      {L"plugins\\ordinal_only.8bf", L"#1", L"#1"},
      {L"plugins\\ordinal_only.8bf", L"\t# +1x", L"# +1x"},
  };
  for (const Case& c : cases) {
    PluginEntry entry = MakeEntry(FixturePath(c.file), L"x", c.entryPoint);
    void* module = reinterpret_cast<void*>(0x1234);
    PluginEntryProc proc = LoadPluginEntryPoint(0, &entry, &module);
    ASSERT_NE(nullptr, proc) << Narrow(c.file) << " " << Narrow(c.entryPoint);
    ASSERT_NE(nullptr, module);
    EXPECT_STREQ(c.kept, entry.entryPoint);
    intptr_t data = 5;
    int16_t result = -1;
    proc(filterSelectorAbout, nullptr, &data, &result);
    EXPECT_EQ(0, result);
    FreeLibrary(static_cast<HMODULE>(module));
  }
}

TEST(ModuleLoader, DependencyInItsOwnFolderAndCurrentDirectoryRestored) {
  ScratchFolder elsewhere;
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.path.c_str()));
  const std::wstring before = CurrentDirectory();
  PluginEntry entry = MakeEntry(FixturePath(L"plugins\\needs_dep.8bf"), L"x", L"PluginMain");
  void* module = nullptr;
  PluginEntryProc proc = LoadPluginEntryPoint(0, &entry, &module);
  EXPECT_EQ(before, CurrentDirectory());
  ASSERT_NE(nullptr, proc);
  intptr_t data = 0;
  int16_t result = -1;
  proc(filterSelectorAbout, nullptr, &data, &result);
  EXPECT_EQ(42, data);  // the helper beside it answered
  FreeLibrary(static_cast<HMODULE>(module));
  SetCurrentDirectoryW(saved);
}

TEST(ModuleLoader, BareFileNameLoadsFromTheSearchPath) {
  const std::wstring before = CurrentDirectory();
  PluginEntry entry = MakeEntry(L"kernel32.dll", L"x", L"GetCurrentProcessId");
  void* module = nullptr;
  EXPECT_NE(nullptr, LoadPluginEntryPoint(0, &entry, &module));
  EXPECT_EQ(before, CurrentDirectory());
  if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

TEST(ModuleLoader, FailuresAnswerNoneAndHoldNoModule) {
  // Headless, the error boxes return at once.
  struct Case {
    const wchar_t* file;
    const wchar_t* entryPoint;
  } cases[] = {
      {L"broken\\missing_import.8bf", L"PluginMain"},
      {L"plugins\\missing.8bf", L"PluginMain"},
      {L"declared\\foreign.8bf", L"PluginMain"},  // the other processor's
      {L"plugins\\blur.8bf", L"NoSuchExport"},
      {L"plugins\\blur.8bf", L""},
      {L"plugins\\ordinal_only.8bf", L"#2"},
      {L"plugins\\ordinal_only.8bf", L"#0"},
      // Ordinals beyond 16 bits would be read as the address of a name.
      {L"plugins\\ordinal_only.8bf", L"#65537"},
      {L"plugins\\ordinal_only.8bf", L"#-1"},
      {L"plugins\\ordinal_only.8bf", L"#99999999999999999999"},
  };
  const std::wstring before = CurrentDirectory();
  for (const Case& c : cases) {
    PluginEntry entry = MakeEntry(FixturePath(c.file), L"x", c.entryPoint);
    void* module = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(nullptr, LoadPluginEntryPoint(0, &entry, &module)) << Narrow(c.file) << " " << Narrow(c.entryPoint);
    EXPECT_EQ(nullptr, module) << Narrow(c.file) << " " << Narrow(c.entryPoint);
    EXPECT_EQ(before, CurrentDirectory());
  }
  EXPECT_EQ(nullptr, LoadPluginEntryPoint(0, nullptr, nullptr));
}
