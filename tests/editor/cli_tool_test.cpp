// The tool as a person runs it, against a scripted stand-in server
// (cli_fake_server), so that every outcome of a job can be arranged.
#include <windows.h>

#include <cstring>

#include "editor/cli/image_codec.h"
#include "gtest/gtest.h"
#include "plughost_version.h"
#include "tests/editor/tool_runner.h"
#include "tests/support/server_session.h"

namespace {

// A plug-in folder holding one 64-bit module, the stand-in server in a mode,
// and a log of the server's starts and requests.
struct FakeSetup {
  std::wstring folder;
  std::wstring work;
  std::wstring log;
  std::wstring server;

  explicit FakeSetup(const wchar_t* mode) {
    folder = FreshFolder(L"plugins");
    work = FreshFolder(L"work");
    log = work + L"\\server.log";
    server = BesideTest(L"cli_fake_server.exe");
    WriteBytes(folder + L"\\Invert.8bf", ModuleHeaderBytes(0x8664));
    SetEnvironmentVariableW(L"PLUGHOST_FAKE_MODE", mode);
    SetEnvironmentVariableW(L"PLUGHOST_FAKE_LOG", log.c_str());
    SetEnvironmentVariableW(L"PLUGHOST_FAKE_RUNNING", nullptr);
  }

  ToolRun Run(std::vector<std::wstring> args) {
    args.insert(args.begin() + 1, {L"--server64", server, L"--quiet"});
    return RunTool(args);
  }

  std::wstring Input(const wchar_t* name, uint32_t w = 6, uint32_t h = 4) {
    std::wstring path = work + L"\\" + name;
    WriteBytes(path, TestImageFile(w, h, true));
    return path;
  }

  size_t Count(const char* line) {
    std::vector<uint8_t> bytes = ReadBytes(log);
    size_t n = 0;
    for (const std::string& l : Lines(std::string(bytes.begin(), bytes.end())))
      if (l.rfind(line, 0) == 0) ++n;
    return n;
  }
};

struct Canceller {
  HANDLE running, cancel;
};

DWORD WINAPI CancelWhenRunning(void* p) {
  auto* c = static_cast<Canceller*>(p);
  if (WaitForSingleObject(c->running, 60000) == WAIT_OBJECT_0) SetEvent(c->cancel);
  return 0;
}

}  // namespace

TEST(CliList, PrintsATableAndJson) {
  FakeSetup s(L"ok");
  ToolRun table = s.Run({L"list", s.folder});
  ASSERT_TRUE(table.finished);
  EXPECT_EQ(0u, table.exitCode) << table.err;
  std::vector<std::string> lines = Lines(table.out);
  ASSERT_EQ(3u, lines.size()) << table.out;
  EXPECT_EQ(0u, lines[0].find("#   Name")) << lines[0];
  EXPECT_EQ(0u, lines[1].find("0   Invert ")) << lines[1];
  EXPECT_NE(std::string::npos, lines[1].find("PluginMain")) << lines[1];
  EXPECT_NE(std::string::npos, lines[1].find(Narrow(s.folder) + "\\Invert.8bf")) << lines[1];
  // The tab in the second name is shown as '?' in the table, kept in the JSON.
  EXPECT_EQ(0u, lines[2].find("1   Tab?here \"quoted\" \xC3\x9C" "ber\\  #1")) << lines[2];

  ToolRun json = s.Run({L"list", s.folder, L"--json"});
  EXPECT_EQ(0u, json.exitCode) << json.err;
  std::string folder;
  for (char c : Narrow(s.folder)) folder += c == '\\' ? std::string("\\\\") : std::string(1, c);
  std::string expected = "[{\"index\": 0, \"name\": \"Invert\", \"entryPoint\": \"PluginMain\", \"path\": \"" + folder +
                         "\\\\Invert.8bf\", \"bits\": 64},\n {\"index\": 1, \"name\": \"Tab\\there \\\"quoted\\\" "
                         "\xC3\x9C" "ber\\\\\", \"entryPoint\": \"#1\", \"path\": \"" +
                         folder + "\\\\Odd.8bf\", \"bits\": 64}]\n";
  EXPECT_EQ(expected, json.out);
}

TEST(CliRun, WritesTheFilteredImageWithProgress) {
  FakeSetup s(L"ok");
  std::wstring in = s.Input(L"in.png");
  std::wstring out = s.work + L"\\out.bmp";
  // With the progress bar this time: asked for, as stderr is a pipe here.
  ToolRun run = RunTool({L"run", L"--progress", L"--server64", s.server, s.folder, L"invert", in, out});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("wrote " + Narrow(out) + "\n", run.out);
  EXPECT_NE(std::string::npos, run.err.find("] 100%")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("[#########---------------------]  33%")) << run.err;
  RasterImage before = Decoded(in), after = Decoded(out);
  ASSERT_EQ(6u, after.width);
  ASSERT_EQ(before.bgra.size(), after.bgra.size());
  for (size_t i = 0; i < before.bgra.size(); ++i) {
    uint8_t expected = i % 4 == 3 ? before.bgra[i] : static_cast<uint8_t>(255 - before.bgra[i]);
    ASSERT_EQ(expected, after.bgra[i]) << "byte " << i;
  }
  // Nothing but the input, the output and the server's log.
  EXPECT_EQ(3u, FolderEntries(s.work).size());
}

TEST(CliRun, NoProgressBarWhereStandardErrorIsNoTerminal) {
  FakeSetup s(L"ok");
  // Neither --quiet nor --progress: stderr is a pipe, as in a log.
  ToolRun run =
      RunTool({L"run", L"--server64", s.server, s.folder, L"Invert", s.Input(L"in.png"), s.work + L"\\o.png"});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("", run.rawErr) << "expected nothing on stderr";
}

TEST(CliRun, StandardInputToStandardOutput) {
  FakeSetup s(L"ok");
  std::wstring in = s.Input(L"in.png");
  ToolRun run = RunToolWithInput({L"run", L"--server64", s.server, s.folder, L"Invert", L"-", L"-"}, ReadBytes(in));
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("", run.err);
  // Binary as written: a PNG holds carriage returns that text mode would mangle.
  std::vector<uint8_t> png(run.rawOut.begin(), run.rawOut.end());
  EXPECT_EQ(0u, run.rawOut.find("\x89PNG\r\n\x1A\n")) << "no PNG on stdout";
  RasterImage before = Decoded(in), after;
  std::string error;
  ASSERT_EQ(1, DecodeImage(png.data(), png.size(), &after, &error)) << error;
  ASSERT_EQ(before.bgra.size(), after.bgra.size());
  for (size_t i = 0; i < before.bgra.size(); ++i) {
    uint8_t expected = i % 4 == 3 ? before.bgra[i] : static_cast<uint8_t>(255 - before.bgra[i]);
    ASSERT_EQ(expected, after.bgra[i]) << "byte " << i;
  }
  // What is no image fails with the stream's name.
  ToolRun junk = RunToolWithInput({L"run", L"--server64", s.server, s.folder, L"Invert", L"-", L"-"}, {'n', 'o'});
  EXPECT_EQ(1u, junk.exitCode);
  ExpectOneErrorLine(junk, "standard input: not a readable image");
  EXPECT_EQ("", junk.rawOut);
}

TEST(CliRun, MkdirCreatesTheOutputsFolders) {
  FakeSetup s(L"ok");
  std::wstring out = s.work + L"\\new\\deeper\\out.png";
  ToolRun run = s.Run({L"run", L"--mkdir", s.folder, L"Invert", s.Input(L"in.png"), out});
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ(6u, Decoded(out).width);
  std::wstring outDir = s.work + L"\\batch\\out";
  ToolRun batch = s.Run({L"batch", L"--mkdir", s.folder, L"Invert", outDir, s.Input(L"a.png")});
  ASSERT_EQ(0u, batch.exitCode) << batch.err;
  EXPECT_EQ(6u, Decoded(outDir + L"\\a.png").width);
}

// Under Wine a person gives Linux paths; every message shows them as given.
TEST(CliPaths, LinuxPathsComeBackAsGiven) {
  FakeSetup s(L"ok");
  std::wstring work = UnixPath(s.work), folder = UnixPath(s.folder);
  if (work.empty()) GTEST_SKIP() << "not under Wine";
  std::wstring in = s.Input(L"a.png");
  ToolRun batch = s.Run({L"batch", L"--mkdir", folder, L"Invert", work + L"/out", work + L"/a.png"});
  ASSERT_TRUE(batch.finished);
  ASSERT_EQ(0u, batch.exitCode) << batch.err;
  EXPECT_EQ("wrote " + Narrow(work) + "/out/a.png\n", batch.out);
  EXPECT_EQ(6u, Decoded(s.work + L"\\out\\a.png").width);
  FakeSetup empty(L"empty");
  ToolRun none = empty.Run({L"list", UnixPath(empty.folder)});
  EXPECT_EQ(1u, none.exitCode);
  ExpectOneErrorLine(none, ("no plug-ins found in " + Narrow(UnixPath(empty.folder))).c_str());
}

TEST(CliHelp, EachCommandHasItsOwnUsage) {
  const std::pair<std::vector<std::wstring>, const char*> rows[] = {
      {{L"run", L"--help"}, "usage: plughost-cli run FOLDER PLUGIN IN OUT"},
      {{L"help", L"batch"}, "usage: plughost-cli batch FOLDER PLUGIN OUTDIR IN..."},
      {{L"--help"}, "usage: plughost-cli COMMAND"},
      {{L"--version"}, "plughost-cli " PLUGHOST_VERSION_TEXT "\n"},
  };
  for (auto& r : rows) {
    ToolRun run = RunTool(r.first);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ(0u, run.out.find(r.second)) << "expected \"" << r.second << "\" first, got:\n" << run.out;
  }
}

TEST(CliRun, AFailedFilterPrintsTheServersMessageAndWritesNothing) {
  FakeSetup s(L"fail");
  ToolRun run = s.Run({L"run", s.folder, L"0", s.Input(L"in.png"), s.work + L"\\out.png"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode);
  ExpectOneErrorLine(run, "Invert: Cannot get entry-point (result code 1)");
  EXPECT_EQ(2u, FolderEntries(s.work).size());
}

// Runs the tool with a cancel event that is set once the stand-in server
// reports the job running. `args` gets the option inserted after the command.
ToolRun RunAndCancel(FakeSetup* s, std::vector<std::wstring> args) {
  std::wstring running = L"plughost-cli-running-" + std::to_wstring(GetCurrentProcessId());
  std::wstring cancel = L"plughost-cli-cancel-" + std::to_wstring(GetCurrentProcessId());
  HANDLE runningEvent = CreateEventW(nullptr, TRUE, FALSE, running.c_str());
  HANDLE cancelEvent = CreateEventW(nullptr, TRUE, FALSE, cancel.c_str());
  ResetEvent(runningEvent);
  ResetEvent(cancelEvent);
  SetEnvironmentVariableW(L"PLUGHOST_FAKE_RUNNING", running.c_str());
  Canceller c{runningEvent, cancelEvent};
  HANDLE t = CreateThread(nullptr, 0, CancelWhenRunning, &c, 0, nullptr);
  args.insert(args.begin() + 1, {L"--cancel-event", cancel});
  ToolRun run = s->Run(args);
  WaitForSingleObject(t, 60000);
  CloseHandle(t);
  CloseHandle(runningEvent);
  CloseHandle(cancelEvent);
  return run;
}

TEST(CliRun, CancelAsksTheServerToAbortAndExitsThree) {
  FakeSetup s(L"cancel");
  ToolRun run = RunAndCancel(&s, {L"run", s.folder, L"Invert", s.Input(L"in.png"), s.work + L"\\out.png"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(3u, run.exitCode);
  ExpectOneErrorLine(run, "The user cancelled");
  EXPECT_EQ(1u, s.Count("request 23")) << "the abort request was not sent once";
  EXPECT_EQ(1u, s.Count("request 22")) << "the held image was not fetched back";
  EXPECT_EQ(2u, FolderEntries(s.work).size());
}

TEST(CliRun, AServerThatDiesMidJobIsReportedWithoutOutput) {
  FakeSetup s(L"die");
  ToolRun run = s.Run({L"run", s.folder, L"Invert", s.Input(L"in.png"), s.work + L"\\out.png"});
  ASSERT_TRUE(run.finished) << "the tool hung";
  EXPECT_EQ(1u, run.exitCode);
  ExpectOneErrorLine(run, "the server ended unexpectedly (exit code 7)");
  EXPECT_EQ(2u, FolderEntries(s.work).size());
}

TEST(CliBadInput, EachGivesOneLineAndANonZeroCode) {
  FakeSetup s(L"ok");
  std::wstring junk = s.work + L"\\junk.png";
  WriteBytes(junk, {'n', 'o', 't', ' ', 'p', 'n', 'g'});
  std::wstring good = s.Input(L"good.png");
  std::wstring out = s.work + L"\\out.png";
  struct Row {
    std::vector<std::wstring> args;
    uint32_t code;
    const char* fragment;
  };
  const Row rows[] = {
      {{L"run", s.folder, L"Invert", s.work + L"\\missing.png", out}, 1, "input not found"},
      {{L"run", s.folder, L"Invert", junk, out}, 1, "not a readable image"},
      {{L"run", s.folder, L"Blur", good, out}, 1, "no plug-in named or numbered \"Blur\""},
      {{L"run", s.folder, L"7", good, out}, 1, "no plug-in named or numbered \"7\""},
      {{L"run", s.folder + L"\\nowhere", L"Invert", good, out}, 1, "plug-in folder not found"},
      {{L"run", s.folder, L"Invert", good, s.work + L"\\out.gif"}, 2, "must end in .png or .bmp"},
      {{L"run", s.folder, L"Invert", good, s.work + L"\\no-folder\\out.png"}, 1, "no-folder (--mkdir creates it)"},
      {{L"batch", s.folder, L"Invert", s.work + L"\\no-folder", good}, 1, "output folder not found"},
      {{L"about", s.folder}, 2, "about: expected 2 arguments, got 1"},
  };
  for (const Row& r : rows) {
    ToolRun run = s.Run(r.args);
    SCOPED_TRACE(r.fragment);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(r.code, run.exitCode);
    ExpectOneErrorLine(run, r.fragment);
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
  // Only what the test itself wrote.
  std::vector<std::wstring> left = FolderEntries(s.work);
  EXPECT_EQ(3u, left.size());
}

TEST(CliSettings, AFileThatDoesNotReadIsRefusedWithItsPlaceBeforeAnyServerStarts) {
  FakeSetup s(L"ok");
  std::wstring good = s.Input(L"good.png");
  std::wstring file = s.work + L"\\settings.json";
  struct Row {
    const char* text;
    const char* fragment;
  };
  const Row rows[] = {
      {"{\"descriptor\": {\"Lvls\": 4\n  \"Chnl\": \"RGB\"}}", "settings.json:2:3: ',' or '}' was expected"},
      {"{\"descriptor\": {\"Md  \": {\"mood\": 3}}}", "settings.json:1:25: unknown type of value"},
      {"{\"descriptor\": {\"Lvl\": 4}}", "settings.json:1:24: key \"Lvl\" is not a four-character code"},
      {"{\"descriptor\": {\"Lvls\": 4294967296}}", "settings.json:1:25: an integer must fit 32 bits"},
  };
  for (const Row& r : rows) {
    WriteBytes(file, std::vector<uint8_t>(r.text, r.text + strlen(r.text)));
    for (const std::vector<std::wstring>& args :
         {std::vector<std::wstring>{L"run", L"--settings", file, s.folder, L"Invert", good, s.work + L"\\o.png"},
          std::vector<std::wstring>{L"batch", s.folder, L"Invert", s.work, good, L"--settings", file}}) {
      ToolRun run = s.Run(args);
      SCOPED_TRACE(r.fragment);
      ASSERT_TRUE(run.finished);
      EXPECT_EQ(1u, run.exitCode);
      ExpectOneErrorLine(run, r.fragment);
    }
  }
  ToolRun missing = s.Run({L"run", L"--settings", s.work + L"\\none.json", s.folder, L"Invert", good, s.work + L"\\o.png"});
  ExpectOneErrorLine(missing, "settings file not found");
  EXPECT_EQ(0u, s.Count("start")) << "a server was started";
}

TEST(CliSettings, AServerThatKeepsNoSettingsIsToldApartBeforeAnyJob) {
  FakeSetup s(L"ok");  // answers the server information request as an older server does
  std::wstring file = s.work + L"\\settings.json";
  const std::string text = "{\"descriptor\": {\"Lvls\": 4}}";
  WriteBytes(file, std::vector<uint8_t>(text.begin(), text.end()));
  for (const std::vector<std::wstring>& args :
       {std::vector<std::wstring>{L"--settings", file}, std::vector<std::wstring>{L"--dialog"},
        std::vector<std::wstring>{L"--save-settings", s.work + L"\\saved.json"}}) {
    std::vector<std::wstring> all = {L"run", s.folder, L"Invert", s.Input(L"in.png"), s.work + L"\\o.png"};
    all.insert(all.end(), args.begin(), args.end());
    ToolRun run = s.Run(all);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode);
    ExpectOneErrorLine(run, "this server does not keep plug-in settings (protocol 1)");
  }
  EXPECT_EQ(0u, s.Count("request 20"));
  EXPECT_EQ(0u, s.Count("request 25"));
}

TEST(CliBadInput, AFolderWithoutPlugins) {
  FakeSetup s(L"empty");
  ToolRun run = s.Run({L"list", s.folder});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode);
  ExpectOneErrorLine(run, "no plug-ins found in ");
}

TEST(CliBadInput, OnlyThirtyTwoBitPluginsAndNoServerForThem) {
  FakeSetup s(L"ok");
  std::wstring folder = FreshFolder(L"plugins32");
  WriteBytes(folder + L"\\Old.8bf", ModuleHeaderBytes(0x014C));
  // A 32-bit server that cannot start, as on a machine without 32-bit support.
  std::wstring notAProgram = s.work + L"\\plughost32.exe";
  WriteBytes(notAProgram, {'n', 'o'});
  ToolRun run = s.Run({L"list", L"--server32", notAProgram, folder});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode);
  ExpectOneErrorLine(run, "32-bit plug-in module(s)");
  EXPECT_NE(std::string::npos, run.err.find("cannot start on this machine")) << run.err;
  EXPECT_EQ(0u, s.Count("start")) << "the 64-bit server was started for 32-bit modules only";
}

TEST(CliBatch, ManyFilesThroughOneServer) {
  FakeSetup s(L"ok");
  std::wstring outDir = FreshFolder(L"batch-out");
  std::wstring junk = s.work + L"\\c.png";
  WriteBytes(junk, {1, 2, 3});
  ToolRun run = s.Run({L"batch", s.folder, L"Invert", outDir, s.Input(L"a.png"), junk, s.Input(L"b.bmp", 3, 3)});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode) << "one input was unreadable";
  EXPECT_EQ("wrote " + Narrow(outDir) + "\\a.png\nwrote " + Narrow(outDir) + "\\b.bmp\n", run.out);
  std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(2u, errors.size()) << run.err;
  EXPECT_NE(std::string::npos, errors[0].find("c.png")) << errors[0];
  EXPECT_NE(std::string::npos, errors[1].find("1 of 3 files failed")) << errors[1];
  EXPECT_EQ(1u, s.Count("start"));
  EXPECT_EQ(2u, s.Count("request 20"));
  EXPECT_EQ(2u, FolderEntries(outDir).size());
  EXPECT_EQ(3u, Decoded(outDir + L"\\b.bmp").width);
}

TEST(CliBatch, StopsWhenTheServerDies) {
  FakeSetup s(L"die");
  std::wstring outDir = FreshFolder(L"batch-out");
  ToolRun run = s.Run({L"batch", s.folder, L"Invert", outDir, s.Input(L"a.png"), s.Input(L"b.png")});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode);
  std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(2u, errors.size()) << run.err;
  EXPECT_NE(std::string::npos, errors[1].find("batch stopped after 0 of 2 files")) << errors[1];
  EXPECT_EQ(1u, s.Count("request 20"));
  EXPECT_TRUE(FolderEntries(outDir).empty());
}

// Two servers at once, an unreadable file among good ones: the lines come in
// the order of the inputs, whichever server finished first.
TEST(CliBatch, ServersAtOncePrintInTheOrderOfTheInputs) {
  FakeSetup s(L"ok");
  std::wstring outDir = FreshFolder(L"batch-out");
  std::wstring junk = s.work + L"\\c.png";
  WriteBytes(junk, {1, 2, 3});
  ToolRun run = s.Run({L"batch", L"-j", L"2", s.folder, L"Invert", outDir, s.Input(L"a.png"), junk,
                       s.Input(L"b.bmp", 3, 3), s.Input(L"d.png", 5, 2)});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode) << "one input was unreadable";
  const std::string out = Narrow(outDir);
  EXPECT_EQ("wrote " + out + "\\a.png\nwrote " + out + "\\b.bmp\nwrote " + out + "\\d.png\n", run.out);
  std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(2u, errors.size()) << run.err;
  EXPECT_NE(std::string::npos, errors[0].find("c.png")) << errors[0];
  EXPECT_NE(std::string::npos, errors[1].find("1 of 4 files failed")) << errors[1];
  EXPECT_EQ(2u, s.Count("start"));
  EXPECT_EQ(3u, s.Count("request 20"));
  EXPECT_EQ(3u, FolderEntries(outDir).size());
  EXPECT_EQ(5u, Decoded(outDir + L"\\d.png").width);
}

// Ctrl+C reaches every server that has a job; no further file is started.
TEST(CliBatch, CancelStopsEveryServer) {
  FakeSetup s(L"cancel");
  std::wstring outDir = FreshFolder(L"batch-out");
  ToolRun run = RunAndCancel(&s, {L"batch", L"-j", L"2", s.folder, L"Invert", outDir, s.Input(L"a.png"),
                                  s.Input(L"b.png"), s.Input(L"c.png")});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(3u, run.exitCode) << run.err;
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos, run.err.find("The user cancelled")) << run.err;
  EXPECT_LE(s.Count("request 20"), 2u) << "a file was started after the cancel";
  EXPECT_EQ(s.Count("request 20"), s.Count("request 23")) << "a running job was not asked to stop";
  EXPECT_TRUE(FolderEntries(outDir).empty());
}

TEST(CliAbout, PollsUntilTheBoxCloses) {
  FakeSetup s(L"aboutbox");
  ToolRun run = s.Run({L"about", s.folder, L"1"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ(1u, s.Count("request 18"));
  EXPECT_EQ(2u, s.Count("request 19"));
  // The box disabled the tool's window, as a modal box disables its owner.
  EXPECT_EQ("", run.out);
}

// Windows: EnableWindow on another process's window sends it WM_ENABLE, as a
// modal box owned by it does. Wine: the same, also for a message-only window
// on a session without a display. It matters because a disabled owner is how
// the tool tells an About box that was shown from a plug-in that has none.
TEST(CliAbout, SaysWhenThePluginShowsNoAboutBox) {
  FakeSetup s(L"ok");
  ToolRun run = s.Run({L"about", s.folder, L"Invert"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ(0u, run.out.find("Invert ")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(" no About box")) << run.out;
}

TEST(CliDistrust, ACatalogueCountBeyondItsRecordsListsOnlyTheRecords) {
  FakeSetup s(L"overcount");
  ToolRun run = s.Run({L"list", s.folder, L"--json"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ(2u, Lines(run.out).size()) << run.out;
  ToolRun beyond = s.Run({L"about", s.folder, L"2"});
  EXPECT_EQ(1u, beyond.exitCode);
  ExpectOneErrorLine(beyond, "no plug-in named or numbered \"2\"");
}

TEST(CliDistrust, AShortImageFromTheServerIsNotWritten) {
  FakeSetup s(L"short");
  ToolRun run = s.Run({L"run", s.folder, L"Invert", s.Input(L"in.png"), s.work + L"\\out.png"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode);
  ExpectOneErrorLine(run, "the server sent back no image");
  EXPECT_EQ(2u, FolderEntries(s.work).size());
}

TEST(CliList, ARelativeFolderReachesTheServerAsAFullPath) {
  FakeSetup s(L"ok");
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  // The tool inherits this folder as its current one.
  std::wstring parent = s.folder.substr(0, s.folder.find_last_of(L'\\'));
  std::wstring leaf = s.folder.substr(parent.size() + 1);
  ASSERT_TRUE(SetCurrentDirectoryW(parent.c_str()));
  ToolRun run = s.Run({L"list", leaf});
  SetCurrentDirectoryW(saved);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(0u, run.exitCode) << run.err;
  EXPECT_NE(std::string::npos, run.out.find(Narrow(s.folder) + "\\Invert.8bf")) << run.out;
}

TEST(CliList, AFolderPathTooLongForTheServerIsRefused) {
  FakeSetup s(L"ok");
  std::wstring deep = s.folder;
  while (deep.size() < 270) {
    deep += L"\\abcdefghijklmnopqrstuvwxyz";
    CreateDirectoryW(deep.c_str(), nullptr);
  }
  ToolRun run = s.Run({L"list", deep});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(1u, run.exitCode);
  ExpectOneErrorLine(run, "longer than 259 characters");
  EXPECT_EQ(0u, s.Count("start"));
}

TEST(CliAbout, CancelStopsTheServerOfABoxThatStaysOpen) {
  FakeSetup s(L"cancel");
  ToolRun run = RunAndCancel(&s, {L"about", s.folder, L"Invert"});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(3u, run.exitCode);
  ExpectOneErrorLine(run, "the server was stopped to close the About box");
}
