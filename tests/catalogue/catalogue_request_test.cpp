// REQ_SCAN_FOLDER: through the real server, and the handler's hold on the
// catalogue in-process.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/plugin_catalog.h"
#include "gtest/gtest.h"
#include "base/memory.h"
#include "base/text.h"
#include "tests/catalogue/catalogue_support.h"
#include "tests/support/loop_run.h"
#include "tests/support/server_session.h"

namespace {

std::vector<uint8_t> PathPayload(const std::wstring& path, bool terminated = true) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(path.c_str());
  std::vector<uint8_t> bytes(p, p + path.size() * 2);
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

int64_t Scan(ServerSession& s, const std::vector<uint8_t>& payload, std::vector<uint8_t>* reply) {
  return s.Request(REQ_SCAN_FOLDER, 0, payload.data(), static_cast<uint32_t>(payload.size()), reply);
}

}  // namespace

TEST(CatalogueRequest, ReplyMatchesTheModuleByteForByte) {
  ScratchFolder root;
  ASSERT_TRUE(CopyFixture(L"plugins\\twins.8bf", root / L"Twins.8bf"));
  ServerSession s;
  ASSERT_TRUE(s.started);
  std::vector<uint8_t> reply;
  ASSERT_EQ(ST_OK, Scan(s, PathPayload(root.path), &reply));

  std::vector<uint8_t> expected(8, 0);
  expected[0] = 2;
  expected[4] = 1;  // from the 64-bit server
  for (auto& e : {MakeEntry(root / L"Twins.8bf", L"Twin One", L"TwinOneMain"),
                  MakeEntry(root / L"Twins.8bf", L"Twin Two", L"TwinTwoMain")}) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&e);
    expected.insert(expected.end(), p, p + sizeof(PluginEntry));
  }
  ASSERT_EQ(expected.size(), reply.size());
  for (size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(expected[i], reply[i]) << "byte " << i << " (entry " << (i < 8 ? -1 : int((i - 8) / 1544)) << ")";
  EXPECT_EQ(0u, s.Quit());
}

TEST(CatalogueRequest, ModulesAreListedAsTheyDeclareThemselves) {
  // Real modules whose PiPLs are awkward but sound, or broken, and one built
  // for the other processor: one entry per declared plug-in, none of it.
  const std::wstring folder = FixturePath(L"declared");
  ServerSession s;
  ASSERT_TRUE(s.started);
  std::vector<uint8_t> reply;
  ASSERT_EQ(ST_OK, Scan(s, PathPayload(folder), &reply));
  ASSERT_GE(reply.size(), 8u);
  uint32_t count = 0;
  memcpy(&count, reply.data(), 4);
  ASSERT_EQ(8 + uint64_t{count} * sizeof(PluginEntry), reply.size());
  std::vector<std::string> got;
  for (uint32_t i = 0; i < count; ++i) {
    PluginEntry e;
    memcpy(&e, reply.data() + 8 + i * sizeof(PluginEntry), sizeof(e));
    got.push_back(Describe(e));
  }
  std::vector<std::string> expected;
  for (auto& e : {MakeEntry(folder + L"\\code_first.8bf", L"Code First", L"CodeFirstMain"),
                  MakeEntry(folder + L"\\long_length_byte.8bf", L"Blu", L"PluginMain"),
                  MakeEntry(folder + L"\\looped_directory.8bf", L"Before", L"PluginMain"),
                  MakeEntry(folder + L"\\odd_lengths.8bf", L"Odds", L"PluginMain"),
                  MakeEntry(folder + L"\\outside_directory.8bf", L"Before", L"PluginMain"),
                  MakeEntry(folder + L"\\stray_signature.8bf", L"Stray", L"PluginMain"),
                  MakeEntry(folder + L"\\truncated.8bf", L"Whole", L"PluginMain"),
                  MakeEntry(folder + L"\\two_languages.8bf", L"Bilingual", L"PluginMain")})
    expected.push_back(Describe(e));
  std::sort(got.begin(), got.end());
  EXPECT_EQ(expected, got);
  EXPECT_EQ(0u, s.Quit());
}

TEST(CatalogueRequest, LoadableModulesWithoutPipLsGiveCountZero) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  std::vector<uint8_t> reply;
  // No terminator, and padding after a terminator, are both accepted.
  ASSERT_EQ(ST_OK, Scan(s, PathPayload(FixturePath(L"nopipl"), false), &reply));
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0}), reply);
  std::vector<uint8_t> padded = PathPayload(FixturePath(L"nopipl"));
  padded.insert(padded.end(), {'x', 0, 'y', 0});
  EXPECT_EQ(ST_OK, Scan(s, padded, &reply));
  EXPECT_EQ(8u, reply.size());
  EXPECT_EQ(0u, s.Quit());
}

// ---- The held catalogue, in-process ----

namespace {

int64_t ScanIn(LoopRun& run, const std::wstring& folder) { return run.Ask(REQ_SCAN_FOLDER, 0, PathPayload(folder)); }

}  // namespace

TEST(CatalogueHold, MissingFolderKeepsEmptyTreeDropsNewScanReplaces) {
  ScratchFolder empty;
  LoopRun run;
  ASSERT_EQ(ST_OK, ScanIn(run, FixturePath(L"plugins")));
  PluginCatalog* first = run.state->catalogue;
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(7u, first->count);

  EXPECT_EQ(ST_BAD_FOLDER, ScanIn(run, empty / L"missing"));
  EXPECT_EQ(first, run.state->catalogue);
  // 259 units fit; at 260 the first 259 would still name the plug-in tree.
  std::wstring padded = FixturePath(L"plugins");
  padded.resize(PATH_UNITS - 1, L'\\');
  EXPECT_EQ(ST_BAD_FOLDER, ScanIn(run, padded + L"x"));
  EXPECT_EQ(first, run.state->catalogue);
  EXPECT_EQ(ST_OK, ScanIn(run, padded));
  ASSERT_NE(nullptr, run.state->catalogue);
  EXPECT_EQ(7u, run.state->catalogue->count);

  EXPECT_EQ(ST_OK, ScanIn(run, FixturePath(L"nopipl")));
  ASSERT_NE(nullptr, run.state->catalogue);
  EXPECT_EQ(0u, run.state->catalogue->count);

  EXPECT_EQ(ST_BAD_INDEX, ScanIn(run, empty.path));
  EXPECT_EQ(nullptr, run.state->catalogue);
}

TEST(CatalogueHold, NoReplyMemoryLeavesNoCatalogue) {
  LoopRun run;
  ASSERT_EQ(ST_OK, ScanIn(run, FixturePath(L"plugins")));
  // Allocations of one scan of this tree: catalogue, walk state, one file
  // buffer per module; the reply comes last. Fail exactly that one.
  uint64_t before = AllocationCount();
  ASSERT_EQ(ST_OK, ScanIn(run, FixturePath(L"plugins")));
  uint64_t perScan = AllocationCount() - before;
  SetAllocationFailureAt(perScan);
  EXPECT_EQ(ST_NO_MEMORY, ScanIn(run, FixturePath(L"plugins")));
  SetAllocationFailureAt(0);
  EXPECT_EQ(nullptr, run.state->catalogue);
  EXPECT_EQ(0u, run.state->reply.payloadLength);
}

TEST(CatalogueHold, ScanWhileAJobRunsIsRefusedAndKeepsTheCatalogue) {
  LoopRun run;
  ASSERT_EQ(ST_OK, ScanIn(run, FixturePath(L"plugins")));
  PluginCatalog* held = run.state->catalogue;
  ASSERT_TRUE(run.HoldJob(&run.state->filter));
  EXPECT_EQ(ST_NOT_READY, ScanIn(run, FixturePath(L"nopipl")));
  EXPECT_EQ(held, run.state->catalogue);
  run.Release();
  WaitForSingleObject(run.state->filter.thread, INFINITE);
  // An ended job no longer holds the scan back.
  EXPECT_EQ(ST_OK, ScanIn(run, FixturePath(L"nopipl")));
}
