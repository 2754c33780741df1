// The tool through the real server with the sample plug-ins: what a person
// gets from the README's commands.
#include <windows.h>

#include "editor/cli/image_codec.h"
#include "gtest/gtest.h"
#include "tests/editor/tool_runner.h"
#include "tests/support/server_session.h"

namespace {

std::wstring Samples() { return BesideTest(L"samples"); }

RasterImage Decoded(const std::wstring& path) {
  std::vector<uint8_t> bytes = ReadBytes(path);
  RasterImage image;
  std::string error;
  DecodeImage(bytes.data(), bytes.size(), &image, &error);
  return image;
}

void ExpectInverted(const std::wstring& before, const std::wstring& after) {
  RasterImage a = Decoded(before), b = Decoded(after);
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  ASSERT_EQ(a.bgra.size(), b.bgra.size());
  for (size_t i = 0; i < a.bgra.size(); ++i) {
    uint8_t expected = i % 4 == 3 ? a.bgra[i] : static_cast<uint8_t>(255 - a.bgra[i]);
    ASSERT_EQ(expected, b.bgra[i]) << "byte " << i;
  }
}

void ExpectOneErrorLine(const ToolRun& run, const char* fragment) {
  std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(1u, lines.size()) << "stderr was:\n" << run.err;
  EXPECT_NE(std::string::npos, lines[0].find(fragment)) << "expected \"" << fragment << "\" in: " << lines[0];
}

}  // namespace

TEST(CliEndToEnd, ListFindsTheSampleInvert) {
  ToolRun run = RunTool({L"list", Samples(), L"--json"});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("\"name\": \"Invert\"")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("Invert.8bf\", \"bits\": 64")) << run.out;
}

TEST(CliEndToEnd, RunInvertsTheDemoImage) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring out = work + L"\\inverted.png";
  ToolRun run = RunTool({L"run", Samples(), L"Invert", BesideTest(L"sample.png"), out});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("wrote " + Narrow(out) + "\n", run.out);
  ExpectInverted(BesideTest(L"sample.png"), out);
  EXPECT_EQ(1u, FolderEntries(work).size());
}

TEST(CliEndToEnd, BatchWritesEveryFile) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring a = work + L"\\a.png", b = work + L"\\b.bmp";
  WriteBytes(a, TestImageFile(17, 5, true));
  WriteBytes(b, TestImageFile(3, 9, false));
  std::wstring outDir = FreshFolder(L"e2e-out");
  ToolRun run = RunTool({L"batch", L"--quiet", Samples(), L"Invert", outDir, a, b});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  ExpectInverted(a, outDir + L"\\a.png");
  ExpectInverted(b, outDir + L"\\b.bmp");
}

TEST(CliEndToEnd, CancelBeforeTheFirstPollCancelsTheJob) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring name = L"plughost-cli-e2e-cancel-" + std::to_wstring(GetCurrentProcessId());
  HANDLE cancel = CreateEventW(nullptr, TRUE, TRUE, name.c_str());  // already set
  // A filter that runs until it is asked to stop: on a busy machine Invert
  // could be done before the cancel reaches the server.
  SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", L"abort-wait");
  ToolRun run = RunTool({L"run", L"--quiet", L"--cancel-event", name, Samples(), L"Trouble",
                         BesideTest(L"sample.png"), work + L"\\out.png"});
  SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", nullptr);
  CloseHandle(cancel);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(3u, run.exitCode) << run.err;
  EXPECT_TRUE(FolderEntries(work).empty());
}

TEST(CliEndToEnd, BadInputGivesOneLineAndNoOutput) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring empty = FreshFolder(L"e2e-empty");
  std::wstring junk = work + L"\\junk.png";
  WriteBytes(junk, {'j', 'u', 'n', 'k'});
  std::wstring out = work + L"\\out.png";
  struct Row {
    std::vector<std::wstring> args;
    const char* fragment;
  };
  const Row rows[] = {
      {{L"run", Samples(), L"Invert", work + L"\\missing.png", out}, "input not found"},
      {{L"run", Samples(), L"Invert", junk, out}, "not a readable image"},
      {{L"run", Samples(), L"No Such Filter", BesideTest(L"sample.png"), out}, "no plug-in named or numbered"},
      {{L"list", empty}, "no plug-ins found in"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.fragment);
    ToolRun run = RunTool(r.args);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode);
    ExpectOneErrorLine(run, r.fragment);
  }
  EXPECT_EQ(1u, FolderEntries(work).size());
}
