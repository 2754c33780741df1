// The tool through the real server with the sample plug-ins: what a person
// gets from the README's commands.
#include <windows.h>

#include <cstring>
#include <set>

#include "editor/cli/image_codec.h"
#include "gtest/gtest.h"
#include "tests/catalogue/catalogue_support.h"
#include "tests/editor/tool_runner.h"
#include "tests/support/display.h"
#include "tests/support/conversation.h"
#include "tests/support/server_session.h"

namespace {

void ExpectInverted(const std::wstring& before, const std::wstring& after, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  RasterImage a = Decoded(before), b = Decoded(after);
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  ASSERT_EQ(a.bgra.size(), b.bgra.size());
  for (size_t i = 0; i < a.bgra.size(); ++i) {
    uint8_t expected = i % 4 == 3 ? a.bgra[i] : static_cast<uint8_t>(255 - a.bgra[i]);
    ASSERT_EQ(expected, b.bgra[i]) << "byte " << i;
  }
}

}  // namespace

TEST(CliEndToEnd, ListFindsTheSampleInvert) {
  ToolRun run = RunTool({L"list", SamplesFolder(), L"--json"});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("\"name\": \"Invert\"")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("Invert.8bf\", \"bits\": 64")) << run.out;
}

TEST(CliEndToEnd, RunInvertsTheDemoImage) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring out = work + L"\\inverted.png";
  ToolRun run = RunTool({L"run", SamplesFolder(), L"Invert", BesideTest(L"sample.png"), out});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("wrote " + Narrow(out) + "\n", run.out);
  ExpectInverted(BesideTest(L"sample.png"), out);
  EXPECT_EQ(1u, FolderEntries(work).size());
}

namespace {

std::vector<uint8_t> Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}

// A line "key value" of the Probe sample's report, or "".
std::string ReportValue(const std::wstring& report, const std::string& key) {
  for (const std::string& line : Lines(ReadWholeFile(report)))
    if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

}  // namespace

TEST(CliEndToEnd, AGreyPngAt300DpiWithAProfileComesBackSo) {
  std::wstring work = FreshFolder(L"e2e-keep");
  // 16 × 2 grey pixels, 300 dpi (11811 per metre), a grey profile and text on either side of the image data.
  std::vector<uint8_t> rows;
  for (uint32_t y = 0; y < 2; ++y) {
    rows.push_back(0);
    for (uint32_t x = 0; x < 16; ++x) rows.push_back(static_cast<uint8_t>(x * 16 + y));
  }
  std::vector<uint8_t> phys = Be32(11811), physY = Be32(11811);
  phys.insert(phys.end(), physY.begin(), physY.end());
  phys.push_back(1);
  static const char kName[] = "Grey profile";
  std::vector<uint8_t> iccp(kName, kName + sizeof(kName));
  iccp.push_back(0);
  std::vector<uint8_t> z = StoredZlib(TestProfile("GRAY"));
  iccp.insert(iccp.end(), z.begin(), z.end());
  static const char kText[] = "Title\0A grey test";
  static const char kIntl[] = "Comment\0\0\0en\0Kommentar\0after the image";
  std::vector<TestChunk> before = {{"pHYs", phys}, {"iCCP", iccp}, {"tEXt", {kText, kText + sizeof(kText) - 1}}};
  std::vector<TestChunk> after = {{"iTXt", {kIntl, kIntl + sizeof(kIntl) - 1}}};
  std::wstring in = work + L"\\grey.png", out = work + L"\\out.png";
  ASSERT_TRUE(WriteBytes(in, HandMadePng(16, 2, 8, 0, rows, before, after)));

  ToolRun run = RunTool({L"run", SamplesFolder(), L"Invert", in, out});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("", run.err);
  ExpectInverted(in, out);
  std::vector<TestChunk> chunks = PngChunksChecked(ReadBytes(out));
  std::string order;
  for (const TestChunk& c : chunks) order += c.type + " ";
  EXPECT_EQ("IHDR pHYs iCCP tEXt IDAT iTXt IEND ", order) << "a BAD! chunk has a wrong CRC";
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(8, chunks[0].body[8]) << "bit depth";
  EXPECT_EQ(0, chunks[0].body[9]) << "colour type: grey";
  for (const TestChunk& c : before) {
    const TestChunk* kept = FindChunk(chunks, c.type.c_str());
    ASSERT_NE(nullptr, kept) << c.type;
    EXPECT_EQ(c.body, kept->body) << c.type;
  }
  EXPECT_EQ(after[0].body, FindChunk(chunks, "iTXt")->body);

  // The filter was told 300 dpi (16.16 fixed point in its record).
  std::wstring report = work + L"\\probe.txt";
  SetEnvironmentVariableW(L"PLUGHOST_PROBE_REPORT", report.c_str());
  ToolRun probe = RunTool({L"run", SamplesFolder(), L"Probe", in, work + L"\\probed.png"});
  SetEnvironmentVariableW(L"PLUGHOST_PROBE_REPORT", nullptr);
  ASSERT_EQ(0u, probe.exitCode) << probe.err;
  EXPECT_EQ(std::to_string(300 << 16), ReportValue(report, "imageHRes"));
  EXPECT_EQ(std::to_string(300 << 16), ReportValue(report, "imageVRes"));
}

TEST(CliEndToEnd, ASixteenBitRampGivesSixtyFourValuesAndAWarning) {
  std::wstring work = FreshFolder(L"e2e-16");
  std::vector<uint8_t> rows = {0};
  for (uint32_t i = 0; i < 64; ++i) {
    std::vector<uint8_t> v = Be32(i * 65535 / 63);
    rows.insert(rows.end(), v.begin() + 2, v.end());
  }
  std::wstring in = work + L"\\ramp.png", out = work + L"\\out.png";
  ASSERT_TRUE(WriteBytes(in, HandMadePng(64, 1, 16, 0, rows, {})));
  ToolRun run = RunTool({L"run", SamplesFolder(), L"Invert", in, out});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  ExpectOneErrorLine(run, "has 16 bits per channel; the server works in 8, so they were rounded to 8");
  EXPECT_EQ(0u, run.err.find("plughost-cli: warning: " + Narrow(in))) << run.err;
  RasterImage image = Decoded(out);
  ASSERT_EQ(64u, image.width);
  EXPECT_EQ(1, image.channels) << "grey stays grey";
  std::set<uint8_t> values;
  for (size_t i = 0; i < image.bgra.size(); i += 4) {
    uint8_t expected = static_cast<uint8_t>(255 - ((i / 4) * 65535 / 63 * 255 + 32767) / 65535);
    EXPECT_EQ(expected, image.bgra[i]) << "pixel " << i / 4;
    values.insert(image.bgra[i]);
  }
  EXPECT_EQ(64u, values.size());
}

TEST(CliEndToEnd, AboutSaysInvertHasNoAboutBox) {
  ToolRun run = RunTool({L"about", SamplesFolder(), L"Invert"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ(0u, run.out.find("Invert ")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("no About box")) << run.out;
}

// Runs on a virtual display only, where the box can appear and a key answers it.
TEST(CliEndToEnd, AnAboutBoxShownIsNotCalledMissing) {
  SKIP_UNLESS_ON_PRIVATE_DISPLAY() << "the box needs a display and a key press";
  ToolRun run = RunTool({L"about", BesideTest(L"about-box"), L"About Box"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("", run.out) << "the box was shown and answered";
}

TEST(CliEndToEnd, BatchWritesEveryFile) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring a = work + L"\\a.png", b = work + L"\\b.bmp";
  WriteBytes(a, TestImageFile(17, 5, true));
  WriteBytes(b, TestImageFile(3, 9, false));
  std::wstring outDir = FreshFolder(L"e2e-out");
  ToolRun run = RunTool({L"batch", L"--quiet", SamplesFolder(), L"Invert", outDir, a, b});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  ExpectInverted(a, outDir + L"\\a.png");
  ExpectInverted(b, outDir + L"\\b.bmp");
}

// Posterize as a file gives it: levels 3 on red and green.
void ExpectPosterized(const std::wstring& before, const std::wstring& after) {
  RasterImage a = Decoded(before), b = Decoded(after);
  ASSERT_EQ(a.bgra.size(), b.bgra.size());
  for (size_t i = 0; i < a.bgra.size(); ++i) {
    const bool named = i % 4 == 1 || i % 4 == 2;  // green, red
    ASSERT_EQ(named ? PosterizeReference(a.bgra[i], 3) : a.bgra[i], b.bgra[i]) << "byte " << i;
  }
}

TEST(CliEndToEnd, AHandWrittenFileRunsPosterizeHeadlessAndWhatItSavesReplaysAlike) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring hand = work + L"\\hand.json", saved = work + L"\\saved.json";
  const std::string text = "{\"plugin\": {\"name\": \"Posterize\"},\n \"descriptor\": {\"Lvls\": 3, \"Chnl\": \"RG\"}}\n";
  WriteBytes(hand, std::vector<uint8_t>(text.begin(), text.end()));
  std::wstring in = BesideTest(L"sample.png");
  ToolRun run = RunTool({L"run", L"--quiet", L"--settings", hand, L"--save-settings", saved, SamplesFolder(), L"Posterize", in,
                         work + L"\\first.png"});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("wrote " + Narrow(work) + "\\first.png\nwrote " + Narrow(saved) + "\n", run.out);
  ExpectPosterized(in, work + L"\\first.png");
  std::vector<uint8_t> json = ReadBytes(saved);
  EXPECT_NE(std::string::npos, std::string(json.begin(), json.end()).find("\"Lvls\": 3")) << "a file a person can read";

  ToolRun again = RunTool({L"run", L"--quiet", L"--settings", saved, SamplesFolder(), L"Posterize", in, work + L"\\again.png"});
  ASSERT_EQ(0u, again.exitCode) << again.err;
  EXPECT_EQ(ReadBytes(work + L"\\first.png"), ReadBytes(work + L"\\again.png"));

  // The same file drives batch, image after image.
  std::wstring a = work + L"\\a.png", b = work + L"\\b.bmp", outDir = work + L"\\out";
  WriteBytes(a, TestImageFile(17, 5, true));
  WriteBytes(b, TestImageFile(3, 9, false));
  ToolRun batch = RunTool({L"batch", L"--quiet", L"--mkdir", L"--settings", hand, SamplesFolder(), L"Posterize", outDir, a, b});
  ASSERT_EQ(0u, batch.exitCode) << batch.err;
  ExpectPosterized(a, outDir + L"\\a.png");
  ExpectPosterized(b, outDir + L"\\b.bmp");
}

TEST(CliEndToEnd, CancelBeforeTheFirstPollCancelsTheJob) {
  std::wstring work = FreshFolder(L"e2e");
  std::wstring name = L"plughost-cli-e2e-cancel-" + std::to_wstring(GetCurrentProcessId());
  HANDLE cancel = CreateEventW(nullptr, TRUE, TRUE, name.c_str());  // already set
  // A filter that runs until it is asked to stop: on a busy machine Invert
  // could be done before the cancel reaches the server.
  SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", L"abort-wait");
  ToolRun run = RunTool({L"run", L"--quiet", L"--cancel-event", name, SamplesFolder(), L"Trouble",
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
      {{L"run", SamplesFolder(), L"Invert", work + L"\\missing.png", out}, "input not found"},
      {{L"run", SamplesFolder(), L"Invert", junk, out}, "not a readable image"},
      {{L"run", SamplesFolder(), L"No Such Filter", BesideTest(L"sample.png"), out}, "no plug-in named or numbered"},
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

namespace {


const std::string* LineWith(const std::vector<std::string>& lines, const std::string& a, const std::string& b) {
  for (const std::string& l : lines)
    if (l.find(a) != std::string::npos && l.find(b) != std::string::npos) return &l;
  return nullptr;
}

}  // namespace

TEST(CliEndToEnd, ListAllSaysWhichModulesGaveNoPluginAndWhy) {
  std::wstring folder = FreshFolder(L"e2e-all");
  ASSERT_TRUE(CopyFileW(FixturePath(L"plugins\\blur.8bf").c_str(), (folder + L"\\Blur.8bf").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(FixturePath(L"nopipl\\no_pipl.8bf").c_str(), (folder + L"\\Bare.8bf").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(FixturePath(L"declared\\foreign.8bf").c_str(), (folder + L"\\Old.8bf").c_str(), FALSE));
  WriteBytes(folder + L"\\Notes.8bf", {'n', 'o', 't', 'e', 's'});
  std::vector<uint8_t> arm = FixtureRetargeted(L"plugins\\blur.8bf", 0xAA64);
  ASSERT_FALSE(arm.empty());
  WriteBytes(folder + L"\\Arm.8bf", arm);

  // No 32-bit server lies beside the tool here, so the 32-bit module is
  // declared but cannot be listed.
  ToolRun table = RunTool({L"list", folder, L"--all"});
  ASSERT_TRUE(table.finished);
  ASSERT_EQ(0u, table.exitCode) << table.err;
  std::vector<std::string> lines = Lines(table.out);
  const std::string f = Narrow(folder) + "\\";
  EXPECT_NE(nullptr, LineWith(lines, "Blur ", f + "Blur.8bf")) << table.out;
  EXPECT_NE(nullptr, LineWith(lines, "Skipped", "Path")) << table.out;
  EXPECT_NE(nullptr, LineWith(lines, "no PiPL for its processor (64-bit)", f + "Bare.8bf")) << table.out;
  EXPECT_NE(nullptr, LineWith(lines, "its processor's server cannot run here (32-bit)", f + "Old.8bf")) << table.out;
  EXPECT_NE(nullptr, LineWith(lines, "not a module", f + "Notes.8bf")) << table.out;
  EXPECT_NE(nullptr, LineWith(lines, "other processor (machine 0xAA64)", f + "Arm.8bf")) << table.out;
  EXPECT_EQ(7u, lines.size()) << table.out;
  EXPECT_NE(std::string::npos, table.err.find("1 32-bit plug-in module(s)")) << table.err;

  ToolRun json = RunTool({L"list", folder, L"--all", L"--json"});
  ASSERT_EQ(0u, json.exitCode) << json.err;
  std::string jf;
  for (char c : f) jf += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(0u, json.out.find("{\"plugins\": [{\"index\": 0, \"name\": \"Blur\"")) << json.out;
  for (const std::string& skipped :
       {"{\"path\": \"" + jf + "Bare.8bf\", \"reason\": \"no-pipl\", \"machine\": 34404}",
        "{\"path\": \"" + jf + "Old.8bf\", \"reason\": \"no-server\", \"machine\": 332}",
        "{\"path\": \"" + jf + "Notes.8bf\", \"reason\": \"not-a-module\", \"machine\": 0}",
        "{\"path\": \"" + jf + "Arm.8bf\", \"reason\": \"other-processor\", \"machine\": 43620}"})
    EXPECT_NE(std::string::npos, json.out.find(skipped)) << "expected " << skipped << " in:\n" << json.out;
  EXPECT_EQ("}\n", json.out.substr(json.out.size() - 2)) << json.out;

  // Without any plug-in, the reasons are still given before the failure.
  DeleteFileW((folder + L"\\Blur.8bf").c_str());
  ToolRun none = RunTool({L"list", folder, L"--all"});
  EXPECT_EQ(1u, none.exitCode);
  EXPECT_NE(nullptr, LineWith(Lines(none.out), "not a module", f + "Notes.8bf")) << none.out;
  ExpectOneErrorLine(none, "no plug-ins can run");
}

TEST(CliEndToEnd, ANameTwoModulesShareIsRefusedWithTheirIndices) {
  std::wstring folder = FreshFolder(L"e2e-twice");
  ASSERT_TRUE(CopyFileW(FixturePath(L"plugins\\blur.8bf").c_str(), (folder + L"\\A.8bf").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(FixturePath(L"plugins\\blur.8bf").c_str(), (folder + L"\\B.8bf").c_str(), FALSE));
  ToolRun run = RunTool({L"about", folder, L"blur"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode);
  ExpectOneErrorLine(run, "the name \"blur\" is shared by plug-ins 0, 1 in ");
}
