// The tool's pure pieces and its file edge, without a server.
#include <windows.h>

#include <set>

#include "editor/cli/choices.h"
#include "editor/cli/cli_args.h"
#include "editor/cli/file_win32.h"
#include "editor/cli/image_codec.h"
#include "editor/cli/image_metadata.h"
#include "editor/cli/json_text.h"
#include "editor/cli/ordered_work.h"
#include "editor/cli/pe_machine.h"
#include "editor/cli/pixel_order.h"
#include "editor/cli/png_chunks.h"
#include "gtest/gtest.h"
#include "sdk/pipl.h"
#include "tests/catalogue/catalogue_support.h"
#include "tests/editor/tool_runner.h"
#include "tests/support/server_session.h"

TEST(PixelOrder, SwapsRedAndBlueAndKeepsAlpha) {
  const uint8_t rgba[8] = {10, 20, 30, 40, 200, 150, 100, 0};
  uint8_t bgra[8];
  RgbaToBgra(rgba, bgra, 2);
  const uint8_t expected[8] = {30, 20, 10, 40, 100, 150, 200, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(expected[i], bgra[i]) << "byte " << i;
  // In place, as the tool converts a fetched image.
  BgraToRgba(bgra, bgra, 2);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(rgba[i], bgra[i]) << "byte " << i;
}

TEST(ModuleMachine, ReadsTheProcessorOfAModule) {
  std::vector<uint8_t> x64 = ModuleHeaderBytes(0x8664);
  std::vector<uint8_t> x86 = ModuleHeaderBytes(0x014C);
  std::vector<uint8_t> arm = ModuleHeaderBytes(0xAA64, 0x100);
  EXPECT_EQ(MACHINE_X64, ReadModuleMachine(x64.data(), x64.size()));
  EXPECT_EQ(MACHINE_X86, ReadModuleMachine(x86.data(), x86.size()));
  EXPECT_EQ(MACHINE_OTHER, ReadModuleMachine(arm.data(), arm.size()));
}

TEST(ModuleMachine, RefusesWhatIsNoModuleOrIsCutShort) {
  std::vector<uint8_t> m = ModuleHeaderBytes(0x8664);
  // The machine field is the last byte needed: one short is too short.
  EXPECT_EQ(MACHINE_X64, ReadModuleMachine(m.data(), 0x80 + 6));
  EXPECT_EQ(MACHINE_NOT_A_MODULE, ReadModuleMachine(m.data(), 0x80 + 5));
  EXPECT_EQ(MACHINE_NOT_A_MODULE, ReadModuleMachine(m.data(), 0x3F));
  EXPECT_EQ(MACHINE_NOT_A_MODULE, ReadModuleMachine(nullptr, 0));
  std::vector<uint8_t> noMz = m;
  noMz[0] = 'X';
  EXPECT_EQ(MACHINE_NOT_A_MODULE, ReadModuleMachine(noMz.data(), noMz.size()));
  std::vector<uint8_t> noPe = m;
  noPe[0x81] = 'X';
  EXPECT_EQ(MACHINE_NOT_A_MODULE, ReadModuleMachine(noPe.data(), noPe.size()));
  // An offset near 4 GiB must not wrap around into the buffer.
  std::vector<uint8_t> distant = m;
  uint32_t huge = 0xFFFFFFFC;
  memcpy(&distant[0x3C], &huge, 4);
  EXPECT_EQ(MACHINE_NOT_A_MODULE, ReadModuleMachine(distant.data(), distant.size()));
}

namespace {

struct Parsed {
  int ok;
  CliOptions options;
  std::string error;
};

Parsed Parse(std::vector<const wchar_t*> args) {
  args.insert(args.begin(), L"plughost-cli");
  Parsed p;
  p.ok = ParseCliArguments(static_cast<int>(args.size()), args.data(), &p.options, &p.error);
  return p;
}

}  // namespace

TEST(CliArguments, CommandsTakeTheirArguments) {
  Parsed run = Parse({L"run", L"C:\\p", L"Invert", L"in.png", L"out.bmp"});
  ASSERT_EQ(1, run.ok) << run.error;
  EXPECT_EQ(CLI_RUN, run.options.command);
  EXPECT_EQ(L"C:\\p", run.options.folder);
  EXPECT_EQ(L"Invert", run.options.plugin);
  EXPECT_EQ(L"in.png", run.options.input);
  EXPECT_EQ(L"out.bmp", run.options.output);

  Parsed batch = Parse({L"--quiet", L"batch", L"F", L"0", L"outdir", L"a.png", L"--server64", L"x.exe", L"b.bmp"});
  ASSERT_EQ(1, batch.ok) << batch.error;
  EXPECT_EQ(CLI_BATCH, batch.options.command);
  EXPECT_EQ(L"outdir", batch.options.outputFolder);
  ASSERT_EQ(2u, batch.options.inputs.size());
  EXPECT_EQ(L"b.bmp", batch.options.inputs[1]);
  EXPECT_EQ(L"x.exe", batch.options.server64);
  EXPECT_TRUE(batch.options.quiet);
  EXPECT_EQ(0u, batch.options.jobs) << "no -j: the default";
  for (const wchar_t* jobs : {L"-j", L"--jobs"}) {
    Parsed p = Parse({L"batch", jobs, L"64", L"F", L"0", L"outdir", L"a.png"});
    ASSERT_EQ(1, p.ok) << p.error;
    EXPECT_EQ(64u, p.options.jobs);
  }

  Parsed list = Parse({L"list", L"F", L"--json"});
  ASSERT_EQ(1, list.ok);
  EXPECT_TRUE(list.options.json);
  EXPECT_FALSE(list.options.all);
  for (const wchar_t* all : {L"--all", L"--verbose"}) {
    Parsed p = Parse({L"list", all, L"F"});
    ASSERT_EQ(1, p.ok) << p.error;
    EXPECT_TRUE(p.options.all);
  }
  // After "--" a leading dash is a file name.
  Parsed dashed = Parse({L"about", L"--", L"F", L"-odd-name"});
  ASSERT_EQ(1, dashed.ok) << dashed.error;
  EXPECT_EQ(L"-odd-name", dashed.options.plugin);
  // A lone dash is a standard stream.
  Parsed streams = Parse({L"run", L"--mkdir", L"--progress", L"F", L"P", L"-", L"-"});
  ASSERT_EQ(1, streams.ok) << streams.error;
  EXPECT_EQ(L"-", streams.options.input);
  EXPECT_EQ(L"-", streams.options.output);
  EXPECT_TRUE(streams.options.makeFolders);
  EXPECT_TRUE(streams.options.progress);
  // --version answers on its own, wherever it stands; a help beside it wins.
  Parsed version = Parse({L"list", L"--colour", L"--version"});
  ASSERT_EQ(1, version.ok) << version.error;
  EXPECT_EQ(CLI_VERSION, version.options.command);
  EXPECT_EQ(CLI_HELP, Parse({L"--version", L"run", L"-h"}).options.command);

  Parsed settings = Parse({L"run", L"--dialog", L"--settings", L"s.json", L"F", L"P", L"i", L"o",
                           L"--save-settings", L"t.json"});
  ASSERT_EQ(1, settings.ok) << settings.error;
  EXPECT_TRUE(settings.options.dialog);
  EXPECT_EQ(L"s.json", settings.options.settingsFile);
  EXPECT_EQ(L"t.json", settings.options.saveSettingsFile);
}

TEST(CliArguments, HelpNamesTheCommandAsked) {
  struct Row {
    std::vector<const wchar_t*> args;
    CliCommand topic;
  } rows[] = {
      {{L"run", L"--help"}, CLI_RUN},
      {{L"-h", L"batch", L"F"}, CLI_BATCH},
      // Help wins over what is wrong with the rest.
      {{L"list", L"--colour", L"-h", L"--server64"}, CLI_LIST},
      {{L"help", L"about"}, CLI_ABOUT},
      {{L"help"}, CLI_HELP},
      {{L"--help"}, CLI_HELP},
      {{L"frobnicate", L"--help"}, CLI_HELP},
      {{}, CLI_HELP},
  };
  for (const Row& r : rows) {
    Parsed p = Parse(r.args);
    ASSERT_EQ(1, p.ok) << "row " << (&r - rows) << ": " << p.error;
    EXPECT_EQ(CLI_HELP, p.options.command) << "row " << (&r - rows);
    EXPECT_EQ(r.topic, p.options.helpTopic) << "row " << (&r - rows);
  }
  EXPECT_EQ(0u, std::string(CliUsage(CLI_RUN)).find("usage: plughost-cli run FOLDER PLUGIN IN OUT"));
  EXPECT_EQ(0u, std::string(CliUsage(CLI_HELP)).find("usage: plughost-cli COMMAND"));
}

TEST(CliArguments, RefusalsSayWhy) {
  struct Row {
    std::vector<const wchar_t*> args;
    const char* expected;
  };
  const Row rows[] = {
      {{L"frobnicate"}, "unknown command frobnicate"},
      {{L"list"}, "list: expected 1 arguments, got 0"},
      {{L"run", L"F", L"P", L"in.png"}, "run: expected 4 arguments, got 3"},
      {{L"batch", L"F", L"P", L"out"}, "batch: expected 4 or more arguments, got 3"},
      {{L"list", L"F", L"--colour"}, "unknown option --colour"},
      {{L"run", L"F", L"P", L"i", L"o", L"--json"}, "--json applies to list only"},
      {{L"about", L"F", L"P", L"--all"}, "--all applies to list only"},
      {{L"list", L"F", L"--server64"}, "--server64 needs a value"},
      {{L"about", L"F", L""}, "about: an argument is empty"},
      {{L"list", L"F", L"--mkdir"}, "--mkdir applies to run and batch only"},
      {{L"run", L"F", L"P", L"i", L"o", L"--quiet", L"--progress"}, "--quiet and --progress cannot go together"},
      {{L"batch", L"F", L"P", L"out", L"a.png", L"-"}, "batch: - (standard input or output) works with run only"},
      {{L"batch", L"F", L"P", L"-", L"a.png"}, "batch: - (standard input or output) works with run only"},
      {{L"help", L"frobnicate"}, "help: unknown command frobnicate"},
      {{L"batch", L"F", L"P", L"out", L"a.png", L"--dialog"}, "--dialog applies to run only"},
      {{L"batch", L"F", L"P", L"out", L"a.png", L"--save-settings", L"s.json"}, "--save-settings applies to run only"},
      {{L"list", L"F", L"--settings", L"s.json"}, "--settings applies to run and batch only"},
      {{L"run", L"F", L"P", L"i", L"o", L"--settings"}, "--settings needs a value"},
      {{L"batch", L"F", L"P", L"out", L"a.png", L"-j", L"0"}, "-j takes a number of servers from 1 to 64, not 0"},
      {{L"batch", L"F", L"P", L"out", L"a.png", L"--jobs", L"65"}, "-j takes a number of servers from 1 to 64, not 65"},
      {{L"batch", L"F", L"P", L"out", L"a.png", L"-j", L"+2"}, "-j takes a number of servers from 1 to 64, not +2"},
      {{L"batch", L"F", L"P", L"out", L"a.png", L"-j"}, "-j needs a value"},
      {{L"run", L"F", L"P", L"i", L"o", L"-j", L"2"}, "--jobs applies to batch only"},
  };
  for (const Row& r : rows) {
    Parsed p = Parse(r.args);
    EXPECT_EQ(0, p.ok) << "expected a refusal: " << r.expected;
    EXPECT_EQ(r.expected, p.error);
  }
}

TEST(CliArguments, BatchRunsOneServerWhereADialogMayShowElseOnePerProcessor) {
  struct Row {
    bool mayShowDialog;
    uint32_t processors, expected;
  };
  const Row rows[] = {{true, 8, 1}, {false, 8, 8}, {false, 1, 1}, {false, 0, 1}, {false, 200, MAX_BATCH_JOBS}};
  for (const Row& r : rows)
    EXPECT_EQ(r.expected, DefaultBatchJobs(r.mayShowDialog, r.processors)) << r.mayShowDialog << " " << r.processors;
}

TEST(JsonText, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ("\"C:\\\\Plug-ins\\\\Blur.8bf\"", JsonQuote("C:\\Plug-ins\\Blur.8bf"));
  EXPECT_EQ("\"say \\\"hi\\\"\"", JsonQuote("say \"hi\""));
  EXPECT_EQ("\"a\\tb\\nc\\u0001\\u001f\\u007f\"", JsonQuote("a\tb\nc\x01\x1f\x7f"));
  EXPECT_EQ("\"\"", JsonQuote(""));
}

TEST(JsonText, Utf16BecomesUtf8AndLoneSurrogatesAreReplaced) {
  EXPECT_EQ("\xC3\x9C" "ber", Utf16ToUtf8(L"\u00dcber"));
  const wchar_t pair[] = {0xD83D, 0xDE00, 0};  // U+1F600
  EXPECT_EQ("\xF0\x9F\x98\x80", Utf16ToUtf8(pair));
  const wchar_t lone[] = {L'a', 0xD800, L'b', 0xDC00, 0};
  EXPECT_EQ("a\xEF\xBF\xBD" "b\xEF\xBF\xBD", Utf16ToUtf8(lone));
  const wchar_t highAtEnd[] = {0xDBFF, 0};
  EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(highAtEnd));
}

TEST(JsonText, PrintableTextDefusesTerminalControls) {
  // ESC and the one-unit CSI and OSC of the C1 range, bell, tab, line feed.
  EXPECT_EQ(L"?[31mred ?2J ?0;t? a?b?c \u00dcber\u00a0",
            PrintableText(L"\x1b[31mred \x9b" L"2J \x9d" L"0;t\x07 a\tb\nc \u00dcber\u00a0"));
}

TEST(PluginChoice, NameBeforeIndexAndCaseAsLastResort) {
  std::vector<ListedPlugin> plugins(3);
  plugins[0].name = L"Invert";
  plugins[1].name = L"2";  // a name that looks like an index
  plugins[2].name = L"invert";
  for (ListedPlugin& p : plugins) p.bits = 64;
  EXPECT_EQ(2, ChoosePlugin(plugins, L"invert"));
  EXPECT_EQ(1, ChoosePlugin(plugins, L"2"));
  EXPECT_EQ(0, ChoosePlugin(plugins, L"0"));
  EXPECT_EQ(PLUGIN_NOT_FOUND, ChoosePlugin(plugins, L"3"));
  EXPECT_EQ(PLUGIN_NOT_FOUND, ChoosePlugin(plugins, L"-1"));
  EXPECT_EQ(PLUGIN_NOT_FOUND, ChoosePlugin(plugins, L"99999999999999999999"));
  EXPECT_EQ(PLUGIN_NOT_FOUND, ChoosePlugin(plugins, L"Blur"));
  plugins[2].name = L"INVERT";
  EXPECT_EQ(0, ChoosePlugin(plugins, L"Invert"));  // exact beats any case
}

TEST(PluginChoice, OneNameOfOneProcessorTwiceIsRefusedWithItsIndices) {
  struct Row {
    std::vector<std::pair<const wchar_t*, int>> listed;  // name, bits
    const wchar_t* text;
    int64_t expected;
    std::vector<int64_t> matches;
  } rows[] = {
      {{{L"Blur", 64}, {L"Sharpen", 64}, {L"Blur", 64}}, L"Blur", PLUGIN_AMBIGUOUS, {0, 2}},
      {{{L"Blur", 64}, {L"BLUR", 64}}, L"blur", PLUGIN_AMBIGUOUS, {0, 1}},
      {{{L"Blur", 32}, {L"Blur", 32}}, L"Blur", PLUGIN_AMBIGUOUS, {0, 1}},
      // The same plug-in built for both processors: the 64-bit build runs.
      {{{L"Blur", 64}, {L"Blur", 32}}, L"Blur", 0, {}},
      {{{L"Blur", 32}, {L"Blur", 64}}, L"Blur", 1, {}},
      {{{L"Blur", 64}, {L"Blur", 32}, {L"Blur", 32}}, L"Blur", 0, {}},
      {{{L"Blur", 64}, {L"Blur", 64}, {L"Blur", 32}}, L"Blur", PLUGIN_AMBIGUOUS, {0, 1, 2}},
      // An index is never ambiguous.
      {{{L"Blur", 64}, {L"Blur", 64}}, L"1", 1, {}},
  };
  for (const Row& r : rows) {
    std::vector<ListedPlugin> plugins;
    for (auto& l : r.listed) {
      plugins.emplace_back();
      plugins.back().name = l.first;
      plugins.back().bits = l.second;
    }
    std::vector<int64_t> matches{-7};  // a sentinel
    EXPECT_EQ(r.expected, ChoosePlugin(plugins, r.text, &matches)) << Narrow(r.text) << ", row " << (&r - rows);
    EXPECT_EQ(r.matches, matches) << Narrow(r.text) << ", row " << (&r - rows);
  }
}

TEST(ModuleVerdict, ModulesAreJudgedAsTheirOwnServerReadsThem) {
  std::vector<uint8_t> arm = FixtureRetargeted(L"plugins\\blur.8bf", 0xAA64);
  ASSERT_FALSE(arm.empty());
  const std::string text = "not a module at all";
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
    uint16_t machine;
    ModuleSkip skip;
    uint32_t plugins;
  } rows[] = {
      {"blur", ReadBytes(BesideTest(L"catalogue\\plugins\\blur.8bf")), kPiplBuildMachine, MODULE_LISTED, 1},
      {"twins", ReadBytes(BesideTest(L"catalogue\\plugins\\twins.8bf")), kPiplBuildMachine, MODULE_LISTED, 2},
      // The other processor's module is listed by the other server.
      {"foreign", ReadBytes(BesideTest(L"catalogue\\declared\\foreign.8bf")),
       kPiplBuildMachine == PE_MACHINE_X64 ? PE_MACHINE_X86 : PE_MACHINE_X64, MODULE_LISTED, 1},
      {"no PiPL", ReadBytes(BesideTest(L"catalogue\\nopipl\\no_pipl.8bf")), kPiplBuildMachine, MODULE_NO_PIPL, 0},
      {"ARM64", arm, 0xAA64, MODULE_OTHER_PROCESSOR, 0},
      {"text", std::vector<uint8_t>(text.begin(), text.end()), 0, MODULE_NOT_A_MODULE, 0},
      {"headers cut after the machine", ModuleHeaderBytes(0x8664), 0x8664, MODULE_NOT_A_MODULE, 0},
      {"empty", {}, 0, MODULE_NOT_A_MODULE, 0},
  };
  for (const Row& r : rows) {
    ModuleVerdict v = JudgeModule(r.bytes.data(), r.bytes.size());
    EXPECT_EQ(r.machine, v.machine) << r.what;
    EXPECT_EQ(r.skip, v.skip) << r.what << ": expected " << ModuleSkipText(r.skip) << ", got "
                              << ModuleSkipText(v.skip);
    EXPECT_EQ(r.plugins, v.plugins) << r.what;
  }
}

TEST(BatchNames, KeepPngAndBmpAndMakeTheRestPng) {
  EXPECT_EQ(L"out\\a.png", BatchOutputPath(L"out", L"C:\\in\\a.png"));
  EXPECT_EQ(L"out\\b.BMP", BatchOutputPath(L"out\\", L"b.BMP"));
  EXPECT_EQ(L"out\\photo.png", BatchOutputPath(L"out", L"d:/x/photo.jpg"));
  EXPECT_EQ(L"out\\noext.png", BatchOutputPath(L"out", L"dir.v2\\noext"));
  EXPECT_EQ(IMAGE_FILE_UNKNOWN, ImageTypeForPath(L"a.png\\file"));
  // Joined in the style the folder was given in: a Linux path under Wine stays one.
  EXPECT_EQ(L"/tmp/out/a.png", BatchOutputPath(L"/tmp/out", L"/tmp/in/a.jpg"));
  EXPECT_EQ(L"/tmp/out/a.png", BatchOutputPath(L"/tmp/out//", L"a.png"));
  EXPECT_EQ(L"/a.png", BatchOutputPath(L"/", L"a.png"));
  EXPECT_EQ(L"C:/out/a.png", BatchOutputPath(L"C:/out", L"a.png"));
  EXPECT_EQ(L"C:\\x/out\\a.png", BatchOutputPath(L"C:\\x/out", L"a.png"));
  EXPECT_EQ(L"out/a.png", BatchOutputPath(L"out/\\", L"a.png"));
  // The folder an output goes to, as written.
  const std::pair<const wchar_t*, const wchar_t*> parents[] = {
      {L"C:\\a\\b.png", L"C:\\a"}, {L"C:\\b.png", L"C:\\"}, {L"/tmp/b.png", L"/tmp"}, {L"/b.png", L"/"},
      {L"b.png", L""}, {L"C:b.png", L"C:"}, {L"a/b\\c.png", L"a/b"}};
  for (auto& p : parents) EXPECT_EQ(p.second, ParentFolder(p.first)) << Narrow(p.first);
}

TEST(ImageCodec, PngAndBmpKeepEveryChannel) {
  for (bool png : {true, false}) {
    std::vector<uint8_t> file = TestImageFile(5, 3, png);
    ASSERT_FALSE(file.empty());
    RasterImage image;
    std::string error;
    ASSERT_EQ(1, DecodeImage(file.data(), file.size(), &image, &error)) << error;
    EXPECT_EQ(5u, image.width);
    EXPECT_EQ(3u, image.height);
    for (size_t i = 0; i < image.bgra.size(); ++i) {
      uint8_t expected = static_cast<uint8_t>(i * 7 + i / 4);
      if (i % 4 == 3) expected = static_cast<uint8_t>(128 + i % 100);
      ASSERT_EQ(expected, image.bgra[i]) << (png ? "png" : "bmp") << " byte " << i;
    }
  }
}

TEST(ImageCodec, FilesAreReadAndWrittenInFileChannelOrder) {
  // A 1 × 1 24-bit BMP made by hand: its pixel is stored blue, green, red,
  // and this one is pure red. A swap missing on both ways would survive a
  // round trip through our own encoder; this file pins the decoder.
  std::vector<uint8_t> bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                              40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
                              4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              0, 0, 255, 0};  // blue 0, green 0, red 255, row padding
  RasterImage image;
  std::string error;
  ASSERT_EQ(1, DecodeImage(bmp.data(), bmp.size(), &image, &error)) << error;
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 255, 255}), image.bgra);
  // Then the encoder, through the pinned decoder; alpha kept.
  image.bgra = {10, 20, 200, 128};
  for (ImageFileType type : {IMAGE_FILE_PNG, IMAGE_FILE_BMP}) {
    std::vector<uint8_t> file;
    ASSERT_EQ(1, EncodeImage(image, type, &file, &error));
    RasterImage back;
    ASSERT_EQ(1, DecodeImage(file.data(), file.size(), &back, &error));
    EXPECT_EQ(image.bgra, back.bgra) << "type " << type;
  }
}

TEST(ImageCodec, RefusesGarbageAndUnknownOutputTypes) {
  RasterImage image;
  std::string error;
  const uint8_t junk[] = "this is no image at all";
  EXPECT_EQ(0, DecodeImage(junk, sizeof(junk), &image, &error));
  EXPECT_NE(std::string::npos, error.find("not a readable image")) << error;
  EXPECT_EQ(0, DecodeImage(junk, 0, &image, &error));
  std::vector<uint8_t> png = TestImageFile(4, 4, true);
  png.resize(png.size() / 2);  // cut short
  EXPECT_EQ(0, DecodeImage(png.data(), png.size(), &image, &error));
  image.width = image.height = 1;
  image.bgra = {1, 2, 3, 4};
  std::vector<uint8_t> out{9};
  EXPECT_EQ(0, EncodeImage(image, IMAGE_FILE_UNKNOWN, &out, &error));
  EXPECT_TRUE(out.empty());
  image.bgra.clear();  // fewer pixels than the size says
  EXPECT_EQ(0, EncodeImage(image, IMAGE_FILE_PNG, &out, &error));
}

TEST(AtomicWrite, ReplacesTheTargetWhole) {
  std::wstring folder = FreshFolder(L"atomic");
  std::wstring target = folder + L"\\out.png";
  ASSERT_TRUE(WriteBytes(target, {1, 2, 3}));
  std::string error;
  const uint8_t fresh[] = {9, 8, 7, 6, 5};
  ASSERT_EQ(1, WriteFileAtomically(target, fresh, sizeof(fresh), &error)) << error;
  EXPECT_EQ((std::vector<uint8_t>{9, 8, 7, 6, 5}), ReadBytes(target));
  EXPECT_EQ(1u, FolderEntries(folder).size()) << "a temporary file was left behind";
}

TEST(AtomicWrite, LeavesNothingBehindOnFailure) {
  std::wstring folder = FreshFolder(L"atomic");
  std::string error;
  const uint8_t bytes[] = {1, 2, 3};
  // The target is a folder: the rename fails after the data was written.
  std::wstring blocked = folder + L"\\taken";
  ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
  EXPECT_EQ(0, WriteFileAtomically(blocked, bytes, sizeof(bytes), &error));
  EXPECT_FALSE(error.empty());
  std::vector<std::wstring> left = FolderEntries(folder);
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(L"taken", left[0]);
  EXPECT_TRUE(FolderEntries(blocked).empty());
  // The folder of the target does not exist.
  EXPECT_EQ(0, WriteFileAtomically(folder + L"\\missing\\out.png", bytes, sizeof(bytes), &error));
  EXPECT_EQ(1u, FolderEntries(folder).size());
}

TEST(FolderTree, CreatesEveryMissingLevel) {
  std::wstring root = FreshFolder(L"tree");
  std::string error;
  std::wstring deep = root + L"\\a\\b/c\\";
  ASSERT_EQ(1, CreateFolderTree(deep, &error)) << error;
  EXPECT_TRUE(FolderExists(root + L"\\a\\b\\c"));
  // What exists already is fine; a file in the way is not.
  EXPECT_EQ(1, CreateFolderTree(root + L"\\a", &error)) << error;
  ASSERT_TRUE(WriteBytes(root + L"\\file", {1}));
  error = "sentinel";
  EXPECT_EQ(0, CreateFolderTree(root + L"\\file\\below", &error));
  EXPECT_NE("sentinel", error);
  // A Linux path, as a person types it under Wine.
  std::wstring unix = UnixPath(root);
  if (!unix.empty()) {
    ASSERT_EQ(1, CreateFolderTree(unix + L"/x/y", &error)) << error;
    EXPECT_TRUE(FolderExists(root + L"\\x\\y"));
  }
}

// Windows: GetConsoleMode succeeds only on console handles. GetFileType calls
// the NUL device FILE_TYPE_CHAR, as it calls a console, so the C runtime's
// _isatty says yes to NUL. Wine: the same. It matters because the progress
// bar is drawn only where a person watches: "2>NUL" must not count as one.
TEST(StandardStreams, OnlyAConsoleIsATerminal) {
  HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring folder = FreshFolder(L"streams");
  HANDLE nul =
      CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE file = CreateFileW((folder + L"\\log.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE pipeRead = nullptr, pipeWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&pipeRead, &pipeWrite, nullptr, 0));
  ASSERT_NE(INVALID_HANDLE_VALUE, nul);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_CHAR), GetFileType(nul)) << "NUL is a character device";
  const std::pair<const char*, HANDLE> rows[] = {{"NUL", nul}, {"a file", file}, {"a pipe", pipeWrite}};
  for (auto& r : rows) {
    SetStdHandle(STD_ERROR_HANDLE, r.second);
    EXPECT_FALSE(IsTerminal(STANDARD_ERROR)) << r.first << " counted as a terminal";
  }
  SetStdHandle(STD_ERROR_HANDLE, saved);
  for (HANDLE h : {nul, file, pipeRead, pipeWrite}) CloseHandle(h);
}

TEST(ModuleCensus, CountsPluginFilesByProcessorBelowAFolder) {
  std::wstring folder = FreshFolder(L"census");
  std::wstring sub = folder + L"\\Effects.8bf";  // a folder with a plug-in's name is walked
  CreateDirectoryW(sub.c_str(), nullptr);
  WriteBytes(folder + L"\\A.8bf", ModuleHeaderBytes(0x8664));
  WriteBytes(folder + L"\\B.8BF", ModuleHeaderBytes(0x014C));
  WriteBytes(sub + L"\\C.8bf", ModuleHeaderBytes(0x014C));
  WriteBytes(sub + L"\\notes.txt", ModuleHeaderBytes(0x014C));
  WriteBytes(folder + L"\\Empty.8bf", {});
  // Shortcuts to folders are followed as the server follows them, each folder
  // walked once; a shortcut to a module is not counted.
  std::wstring linked = FreshFolder(L"census-linked");
  WriteBytes(linked + L"\\D.8bf", ModuleHeaderBytes(0x014C));
  ASSERT_TRUE(MakeShortcut(folder + L"\\Linked.lnk", linked));
  ASSERT_TRUE(MakeShortcut(linked + L"\\Back.lnk", folder));
  ASSERT_TRUE(MakeShortcut(linked + L"\\Again.lnk", linked));
  ASSERT_TRUE(MakeShortcut(folder + L"\\A.8bf.lnk", folder + L"\\A.8bf"));
  ModuleCensus census;
  CountPluginModules(folder + L"\\", &census);
  EXPECT_EQ(1u, census.x64);
  EXPECT_EQ(3u, census.x86);
  EXPECT_EQ(1u, census.other);

  // Judged, each module once, by its path as found.
  std::vector<SurveyedModule> modules;
  SurveyPluginModules(folder, &census, &modules);
  EXPECT_EQ(5u, modules.size());
  EXPECT_EQ(3u, census.x86);
  for (const SurveyedModule& m : modules) {
    EXPECT_EQ(MODULE_NOT_A_MODULE, m.verdict.skip) << Narrow(m.path) << ": these are headers, not modules";
  }
}

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// The bytes of a literal that holds zero bytes, without its terminator.
template <size_t N>
std::vector<uint8_t> Lit(const char (&text)[N]) {
  return std::vector<uint8_t>(text, text + N - 1);
}

std::vector<uint8_t> Be32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}

std::vector<uint8_t> PhysBody(uint32_t x, uint32_t y, uint8_t unit) {
  std::vector<uint8_t> b = Be32Bytes(x), yb = Be32Bytes(y);
  b.insert(b.end(), yb.begin(), yb.end());
  b.push_back(unit);
  return b;
}

std::vector<uint8_t> IccpBody(const char* space) {
  std::vector<uint8_t> body = Lit("profile\0\0");
  std::vector<uint8_t> z = StoredZlib(TestProfile(space));
  body.insert(body.end(), z.begin(), z.end());
  return body;
}

// A 2 × 1 grey PNG with the chunks given.
std::vector<uint8_t> GreyPng(const std::vector<TestChunk>& before, const std::vector<TestChunk>& after = {}) {
  return HandMadePng(2, 1, 8, 0, {0, 10, 200}, before, after);
}

std::string CarriedTypes(const std::vector<PngChunk>& chunks) {
  std::string types;
  for (const PngChunk& c : chunks)
    types += std::string(types.empty() ? "" : " ") + std::string(c.type, 4) + (c.afterImage ? "+" : "");
  return types;
}

}  // namespace

TEST(PngChunks, CrcMatchesThePublishedCheckValues) {
  const std::string check = "123456789";
  EXPECT_EQ(0xCBF43926u, Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()));
  // A CRC carried on over a second buffer is the CRC of both together.
  uint32_t part = Crc32(reinterpret_cast<const uint8_t*>(check.data()), 4);
  EXPECT_EQ(0xCBF43926u, Crc32(reinterpret_cast<const uint8_t*>(check.data()) + 4, 5, part));
  std::vector<uint8_t> end;
  ASSERT_EQ(1, AppendPngChunk(&end, "IEND", nullptr, 0));
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}), end);
}

TEST(PngChunks, CarriesSoundChunksAndRefusesTheRest) {
  std::vector<uint8_t> badCrc = GreyPng({{"tEXt", Lit("Title\0A")}});
  badCrc[8 + 25 + 8 + 7] ^= 1;  // the CRC of the tEXt chunk
  struct Row {
    const char* what;
    std::vector<uint8_t> png;
    const char* carried;  // types in order; "+" after one that followed the image data
    uint32_t refused;
    uint32_t physX;  // 0: no pHYs read
  } rows[] = {
      {"every kind", GreyPng({{"pHYs", PhysBody(11811, 11811, 1)}, {"iCCP", IccpBody("GRAY")}, {"sRGB", {0}},
                              {"gAMA", Be32Bytes(45455)}, {"cHRM", std::vector<uint8_t>(32, 1)},
                              {"tEXt", Lit("Title\0A")}},
                             {{"zTXt", Lit("Note\0\0x")},
                              {"iTXt", Lit("Comment\0\0\0en\0Kommentar\0text")}}),
       "iCCP sRGB gAMA cHRM tEXt zTXt+ iTXt+", 0, 11811},
      {"a wrong CRC", badCrc, "", 1, 0},
      {"twice what may stand once", GreyPng({{"iCCP", IccpBody("GRAY")}, {"iCCP", IccpBody("RGB ")},
                                             {"pHYs", PhysBody(1, 1, 0)}, {"pHYs", PhysBody(2, 2, 0)}}),
       "iCCP", 2, 1},
      {"colour chunks after the image", GreyPng({}, {{"iCCP", IccpBody("GRAY")}, {"pHYs", PhysBody(5, 5, 1)}}), "",
       2, 0},
      {"malformed bodies",
       GreyPng({{"tEXt", Lit("\0no keyword")},
                {"tEXt", Bytes(std::string(80, 'k') + std::string("\0long", 5))},
                {"zTXt", Lit("Note\0\1x")},
                {"iTXt", Lit("Comment\0\2\0en\0\0text")},
                {"iTXt", Lit("Comment\0\0\0en")},
                {"iCCP", Lit("profile\0\0")},
                {"sRGB", {4}}, {"gAMA", Be32Bytes(0)}, {"cHRM", {1, 2}},
                {"pHYs", PhysBody(0, 300, 1)}, {"pHYs", PhysBody(300, 300, 2)}, {"pHYs", PhysBody(0x80000000u, 1, 1)}}),
       "", 12, 0},
      {"chunks the tool does not carry", GreyPng({{"tIME", std::vector<uint8_t>(7, 1)}, {"bKGD", {0, 1}}}), "", 0, 0},
  };
  for (const Row& r : rows) {
    PngFacts facts;
    facts.refused = 99;  // a sentinel
    ASSERT_EQ(1, ReadPngChunks(r.png.data(), r.png.size(), &facts)) << r.what;
    EXPECT_EQ(r.carried, CarriedTypes(facts.carried)) << r.what;
    EXPECT_EQ(r.refused, facts.refused) << r.what;
    EXPECT_EQ(r.physX != 0, facts.hasPhys) << r.what;
    EXPECT_EQ(r.physX, facts.physX) << r.what;
    EXPECT_EQ(2u, facts.width) << r.what;
    EXPECT_EQ(0, facts.colourType) << r.what;
  }
}

TEST(PngChunks, AWalkStopsAtWhatRunsPastTheEnd) {
  std::vector<uint8_t> png = GreyPng({{"tEXt", Lit("A\0first")}, {"tEXt", Lit("B\0cut")}});
  PngFacts facts;
  // Cut inside the second text chunk: the first stays.
  size_t cut = 8 + 25 + 19 + 10;
  ASSERT_EQ(1, ReadPngChunks(png.data(), cut, &facts));
  EXPECT_EQ("tEXt", CarriedTypes(facts.carried));
  // A length beyond any buffer stops the walk without reading past it.
  std::vector<uint8_t> huge = png;
  huge[8 + 25] = 0x7F;
  ASSERT_EQ(1, ReadPngChunks(huge.data(), huge.size(), &facts));
  EXPECT_EQ("", CarriedTypes(facts.carried));
  // Not a PNG, or no IHDR first.
  EXPECT_EQ(0, ReadPngChunks(png.data(), 8 + 24, &facts));
  png[12] = 'X';
  EXPECT_EQ(0, ReadPngChunks(png.data(), png.size(), &facts));
  EXPECT_EQ(0, ReadPngChunks(nullptr, 0, &facts));
}

TEST(PngChunks, InsertedChunksLandAroundTheImageData) {
  std::vector<uint8_t> png = GreyPng({});
  std::vector<uint8_t> before, after;
  std::vector<uint8_t> phys = PhysChunkData(2835, 2835, PNG_UNIT_METRE);
  ASSERT_EQ(1, AppendPngChunk(&before, "pHYs", phys.data(), phys.size()));
  ASSERT_EQ(1, AppendPngChunk(&after, "tEXt", reinterpret_cast<const uint8_t*>("K\0v"), 3));
  ASSERT_EQ(1, InsertPngChunks(&png, before, after));
  std::string order;
  for (const TestChunk& c : PngChunksChecked(png)) order += c.type + " ";
  EXPECT_EQ("IHDR pHYs IDAT tEXt IEND ", order);
  // Bytes that do not end in IEND are left alone.
  std::vector<uint8_t> cut(png.begin(), png.end() - 1), kept = cut;
  EXPECT_EQ(0, InsertPngChunks(&cut, before, after));
  EXPECT_EQ(kept, cut);
}

namespace {

// JPEG segments up to the scan: enough for the metadata reader.
std::vector<uint8_t> JpegHead(const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& segments) {
  std::vector<uint8_t> j = {0xFF, 0xD8};
  for (auto& s : segments) {
    j.push_back(0xFF);
    j.push_back(s.first);
    size_t n = s.second.size() + 2;
    j.push_back(static_cast<uint8_t>(n >> 8));
    j.push_back(static_cast<uint8_t>(n));
    j.insert(j.end(), s.second.begin(), s.second.end());
  }
  j.insert(j.end(), {0xFF, 0xDA, 0, 2});
  return j;
}

std::vector<uint8_t> Jfif(uint8_t units, uint16_t x, uint16_t y) {
  return {'J', 'F', 'I', 'F', 0, 1, 2, units, static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x),
          static_cast<uint8_t>(y >> 8), static_cast<uint8_t>(y), 0, 0};
}

std::vector<uint8_t> IccSegment(uint8_t sequence, uint8_t count, const std::vector<uint8_t>& part) {
  std::vector<uint8_t> s = Lit("ICC_PROFILE\0");
  s.push_back(sequence);
  s.push_back(count);
  s.insert(s.end(), part.begin(), part.end());
  return s;
}

}  // namespace

TEST(ImageMetadata, ReadsResolutionAndProfileFromEachFormat) {
  std::vector<uint8_t> profile = TestProfile("RGB ");
  std::vector<uint8_t> head(profile.begin(), profile.begin() + 100), tail(profile.begin() + 100, profile.end());
  std::vector<uint8_t> bmp = TestImageFile(2, 2, false);
  for (int i = 0; i < 4; ++i) bmp[38 + i] = static_cast<uint8_t>(11811 >> (8 * i));
  for (int i = 0; i < 4; ++i) bmp[42 + i] = static_cast<uint8_t>(5906 >> (8 * i));
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
    ImageFileFormat format;
    ResolutionUnit unit;
    uint32_t x, y;
    size_t profileBytes;
    uint32_t refused;
  } rows[] = {
      {"PNG pHYs", GreyPng({{"pHYs", PhysBody(11811, 5906, 1)}}), IMAGE_FORMAT_PNG, RESOLUTION_PER_METRE, 11811, 5906,
       0, 0},
      {"PNG aspect", GreyPng({{"pHYs", PhysBody(2, 1, 0)}}), IMAGE_FORMAT_PNG, RESOLUTION_ASPECT, 2, 1, 0, 0},
      {"JFIF per inch, profile in two parts out of order",
       JpegHead({{0xE0, Jfif(1, 300, 150)}, {0xE2, IccSegment(2, 2, tail)}, {0xE2, IccSegment(1, 2, head)}}),
       IMAGE_FORMAT_JPEG, RESOLUTION_PER_INCH, 300, 150, profile.size(), 0},
      {"JFIF per cm, fill bytes", [] {
         std::vector<uint8_t> j = JpegHead({{0xE0, Jfif(2, 118, 118)}});
         j.insert(j.begin() + 2, {0xFF, 0xFF});
         return j;
       }(),
       IMAGE_FORMAT_JPEG, RESOLUTION_PER_CM, 118, 118, 0, 0},
      {"a profile part missing", JpegHead({{0xE2, IccSegment(1, 2, head)}}), IMAGE_FORMAT_JPEG, RESOLUTION_NONE, 0, 0,
       0, 1},
      {"a profile part twice", JpegHead({{0xE2, IccSegment(1, 2, head)}, {0xE2, IccSegment(1, 2, head)}}),
       IMAGE_FORMAT_JPEG, RESOLUTION_NONE, 0, 0, 0, 1},
      {"counts that disagree", JpegHead({{0xE2, IccSegment(1, 2, head)}, {0xE2, IccSegment(2, 3, tail)}}),
       IMAGE_FORMAT_JPEG, RESOLUTION_NONE, 0, 0, 0, 1},
      {"JFIF without a density", JpegHead({{0xE0, Jfif(1, 0, 300)}}), IMAGE_FORMAT_JPEG, RESOLUTION_NONE, 0, 0, 0, 1},
      {"a segment longer than the file", [] {
         std::vector<uint8_t> j = JpegHead({{0xE0, Jfif(1, 300, 300)}});
         j[5] = 0xFF;
         return j;
       }(),
       IMAGE_FORMAT_JPEG, RESOLUTION_NONE, 0, 0, 0, 0},
      {"BMP header", bmp, IMAGE_FORMAT_BMP, RESOLUTION_PER_METRE, 11811, 5906, 0, 0},
      {"BMP without one", TestImageFile(2, 2, false), IMAGE_FORMAT_BMP, RESOLUTION_NONE, 0, 0, 0, 0},
      {"not an image", Bytes("GIF89a"), IMAGE_FORMAT_OTHER, RESOLUTION_NONE, 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    ImageMetadata m;
    m.refused = 77;  // a sentinel
    ReadImageMetadata(r.bytes.data(), r.bytes.size(), &m);
    EXPECT_EQ(r.format, m.format) << r.what;
    EXPECT_EQ(r.unit, m.resolution.unit) << r.what;
    EXPECT_EQ(r.x, m.resolution.x) << r.what;
    EXPECT_EQ(r.y, m.resolution.y) << r.what;
    EXPECT_EQ(r.profileBytes, m.iccProfile.size()) << r.what;
    if (r.profileBytes != 0) {
      EXPECT_EQ(profile, m.iccProfile) << r.what;
    }
    EXPECT_EQ(r.refused, m.refused) << r.what;
  }
}

TEST(ImageMetadata, ResolutionsAsAFilterIsToldThemAndAsFilesStoreThem) {
  struct Row {
    ImageResolution r;
    double dpiX, dpiY;
    int absolute;
    uint32_t perMetreX, perMetreY;
  } rows[] = {
      // Whole dpi stored as whole pixels per metre come back whole.
      {{RESOLUTION_PER_METRE, 11811, 2835}, 300.0, 72.0, 1, 11811, 2835},
      {{RESOLUTION_PER_METRE, 3937, 3937}, 100.0, 100.0, 1, 3937, 3937},
      {{RESOLUTION_PER_METRE, 1000, 1000}, 25.4, 25.4, 1, 1000, 1000},
      {{RESOLUTION_PER_INCH, 300, 600}, 300.0, 600.0, 1, 11811, 23622},
      {{RESOLUTION_PER_CM, 100, 100}, 254.0, 254.0, 1, 10000, 10000},
      {{RESOLUTION_ASPECT, 300, 300}, 72.0, 72.0, 0, 0, 0},
      {{RESOLUTION_NONE, 0, 0}, 72.0, 72.0, 0, 0, 0},
      // Beyond what the filter record holds: the default, but the file's value is still written.
      {{RESOLUTION_PER_METRE, 2000000, 11811}, 72.0, 72.0, 1, 2000000, 11811},
      {{RESOLUTION_PER_CM, 65535, 65535}, 72.0, 72.0, 1, 6553500, 6553500},
  };
  for (const Row& r : rows) {
    double x = -1, y = -1;
    ResolutionDpi(r.r, &x, &y);
    EXPECT_NEAR(r.dpiX, x, 1e-9) << "row " << (&r - rows);
    EXPECT_NEAR(r.dpiY, y, 1e-9) << "row " << (&r - rows);
    uint32_t px = 7, py = 7;  // sentinels
    EXPECT_EQ(r.absolute, ResolutionPerMetre(r.r, &px, &py)) << "row " << (&r - rows);
    EXPECT_EQ(r.absolute ? r.perMetreX : 7u, px) << "row " << (&r - rows);
    EXPECT_EQ(r.absolute ? r.perMetreY : 7u, py) << "row " << (&r - rows);
  }
  std::vector<uint8_t> grey = TestProfile("GRAY"), cmyk = TestProfile("CMYK");
  EXPECT_EQ(ICC_SPACE_GREY, IccProfileSpace(grey.data(), grey.size()));
  EXPECT_EQ(ICC_SPACE_RGB, IccProfileSpace(TestProfile("RGB ").data(), 132));
  EXPECT_EQ(ICC_SPACE_OTHER, IccProfileSpace(cmyk.data(), cmyk.size()));
  EXPECT_EQ(ICC_SPACE_UNKNOWN, IccProfileSpace(grey.data(), 127));
  grey[36] = 'x';
  EXPECT_EQ(ICC_SPACE_UNKNOWN, IccProfileSpace(grey.data(), grey.size()));
}

TEST(PixelOrder, SixteenBitSamplesRoundToTheNearestEightBitValue) {
  // 257 × k is exactly k; half a step either side rounds away from it.
  // Taking the high byte, as a quick conversion does, gets 200 and 65406 wrong.
  struct Row {
    uint16_t in;
    uint8_t out;
  } rows[] = {{0, 0}, {128, 0}, {129, 1}, {200, 1}, {257, 1}, {385, 1}, {386, 2},
              {32767, 127}, {32768, 128}, {33023, 128}, {65406, 254}, {65407, 255}, {65535, 255}};
  for (const Row& r : rows) {
    uint8_t source[2];
    memcpy(source, &r.in, 2);
    uint8_t out = 0xEE;
    NarrowSamples(source, 1, &out);
    EXPECT_EQ(r.out, out) << "expected " << int(r.out) << " for " << r.in << ", got " << int(out);
  }
  // In place, over a 64-value ramp: 64 distinct values, in order.
  std::vector<uint16_t> ramp(64);
  for (uint32_t i = 0; i < 64; ++i) ramp[i] = static_cast<uint16_t>(i * 65535 / 63);
  auto* bytes = reinterpret_cast<uint8_t*>(ramp.data());
  NarrowSamples(bytes, 64, bytes);
  for (uint32_t i = 0; i < 64; ++i)
    ASSERT_EQ(static_cast<uint8_t>((i * 65535 / 63 * 255 + 32767) / 65535), bytes[i]) << "sample " << i;
  EXPECT_EQ(255, bytes[63]);
}

TEST(PixelOrder, ChannelsExpandAndPackBack) {
  // Two pixels: a grey one, half transparent, and a coloured opaque one.
  const uint8_t bgra[8] = {40, 40, 40, 128, 30, 20, 10, 255};
  struct Row {
    int channels;
    std::vector<uint8_t> packed;
  } rows[] = {
      {1, {40, 20}}, {2, {40, 128, 20, 255}}, {3, {40, 40, 40, 10, 20, 30}}, {4, {40, 40, 40, 128, 10, 20, 30, 255}}};
  for (const Row& r : rows) {
    std::vector<uint8_t> packed(r.packed.size(), 0xEE);
    PackFromBgra(bgra, 2, r.channels, packed.data());
    EXPECT_EQ(r.packed, packed) << r.channels << " channels";
    std::vector<uint8_t> back(8, 0xEE);
    ExpandToBgra(r.packed.data(), r.channels, 2, back.data());
    for (int i = 0; i < 8; ++i) {
      uint8_t expected = bgra[i];
      if (r.channels <= 2 && i >= 4 && i < 7) expected = 20;  // grey took the green byte
      if (r.channels % 2 == 1 && i % 4 == 3) expected = 255;   // no alpha: opaque
      EXPECT_EQ(expected, back[i]) << r.channels << " channels, byte " << i;
    }
  }
}

TEST(PixelOrder, ChannelsToKeepFollowTheSourceWhileThePixelsAllow) {
  const uint8_t greyOpaque[8] = {9, 9, 9, 255, 200, 200, 200, 255};
  const uint8_t greyClear[8] = {9, 9, 9, 255, 200, 200, 200, 0};
  const uint8_t colourOpaque[8] = {9, 9, 9, 255, 1, 2, 3, 255};
  struct Row {
    const uint8_t* pixels;
    int source;
    int kept;
  } rows[] = {
      {greyOpaque, 1, 1}, {greyOpaque, 2, 2}, {greyOpaque, 3, 3}, {greyOpaque, 4, 4},
      {greyClear, 1, 2},  {greyClear, 3, 4},  {colourOpaque, 1, 3}, {colourOpaque, 2, 4},
  };
  for (const Row& r : rows)
    EXPECT_EQ(r.kept, ChannelsToKeep(r.pixels, 2, r.source)) << "row " << (&r - rows);
}

// The image library's zlib reader, built into the tool's codec.
extern "C" int stbi_zlib_decode_buffer(char* obuffer, int olen, const char* ibuffer, int ilen);

TEST(ImageCodec, AGreyPngKeepsItsLayoutResolutionProfileAndText) {
  const std::vector<TestChunk> before = {{"pHYs", PhysBody(11811, 11811, 1)},
                                         {"iCCP", IccpBody("GRAY")},
                                         {"tEXt", Lit("Title\0Grey")}};
  const std::vector<TestChunk> after = {{"iTXt", Lit("Comment\0\0\0en\0\0after")}};
  RasterImage image = DecodedBytes(GreyPng(before, after));
  EXPECT_EQ(1, image.channels);
  EXPECT_EQ(8, image.bitsPerChannel);
  EXPECT_EQ((std::vector<uint8_t>{10, 10, 10, 255, 200, 200, 200, 255}), image.bgra);
  std::vector<uint8_t> file;
  std::string error;
  std::vector<std::string> notes;
  ASSERT_EQ(1, EncodeImage(image, IMAGE_FILE_PNG, &file, &error, &notes)) << error;
  EXPECT_TRUE(notes.empty());
  std::vector<TestChunk> chunks = PngChunksChecked(file);
  std::string order;
  for (const TestChunk& c : chunks) order += c.type + " ";
  EXPECT_EQ("IHDR pHYs iCCP tEXt IDAT iTXt IEND ", order);
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(0, chunks[0].body[9]) << "colour type: grey";
  for (const TestChunk& c : before) EXPECT_EQ(c.body, FindChunk(chunks, c.type.c_str())->body) << c.type;
  EXPECT_EQ(after[0].body, FindChunk(chunks, "iTXt")->body);
  RasterImage back = DecodedBytes(file);
  EXPECT_EQ(image.bgra, back.bgra);
  EXPECT_EQ(1, back.channels);
}

TEST(ImageCodec, WhatTheResultNoLongerAllowsIsDropped) {
  RasterImage image = DecodedBytes(GreyPng({{"iCCP", IccpBody("GRAY")}, {"tEXt", Lit("K\0v")}}));
  image.bgra[4] = 7;  // the second pixel is now coloured
  image.bgra[3] = 100;  // and the first half transparent
  std::vector<uint8_t> file;
  std::string error;
  std::vector<std::string> notes;
  ASSERT_EQ(1, EncodeImage(image, IMAGE_FILE_PNG, &file, &error, &notes)) << error;
  std::vector<TestChunk> chunks = PngChunksChecked(file);
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(6, chunks[0].body[9]) << "colour type: colour and alpha";
  EXPECT_EQ(nullptr, FindChunk(chunks, "iCCP")) << "a grey profile on colour pixels";
  EXPECT_NE(nullptr, FindChunk(chunks, "tEXt"));
  ASSERT_EQ(1u, notes.size());
  EXPECT_NE(std::string::npos, notes[0].find("grey colour profile was left out")) << notes[0];
  EXPECT_EQ(image.bgra, DecodedBytes(file).bgra);
  // A BMP keeps the resolution and says what it could not keep.
  image.metadata.resolution = {RESOLUTION_PER_INCH, 300, 300};
  notes.clear();
  ASSERT_EQ(1, EncodeImage(image, IMAGE_FILE_BMP, &file, &error, &notes)) << error;
  ImageMetadata m;
  ReadImageMetadata(file.data(), file.size(), &m);
  EXPECT_EQ(RESOLUTION_PER_METRE, m.resolution.unit);
  EXPECT_EQ(11811u, m.resolution.x);
  ASSERT_EQ(1u, notes.size());
  EXPECT_EQ("a BMP keeps no colour profile or text; left out: iCCP, tEXt", notes[0]);
}

TEST(ImageCodec, AJpegsDensityAndProfileReachAPng) {
  RasterImage image;
  image.width = image.height = 1;
  image.channels = 3;
  image.bgra = {1, 2, 3, 255};
  image.metadata.resolution = {RESOLUTION_PER_INCH, 300, 300};
  image.metadata.iccProfile = TestProfile("RGB ");
  std::vector<uint8_t> file;
  std::string error;
  ASSERT_EQ(1, EncodeImage(image, IMAGE_FILE_PNG, &file, &error)) << error;
  std::vector<TestChunk> chunks = PngChunksChecked(file);
  ASSERT_NE(nullptr, FindChunk(chunks, "pHYs"));
  EXPECT_EQ(PhysBody(11811, 11811, 1), FindChunk(chunks, "pHYs")->body);
  EXPECT_EQ(2, chunks[0].body[9]) << "colour type: colour without alpha";
  RasterImage back = DecodedBytes(file);
  ASSERT_EQ(1u, back.metadata.pngChunks.size());
  // The profile comes back whole through a zlib reader.
  size_t offset = 0, length = 0;
  ASSERT_EQ(1, IccpCompressedProfile(back.metadata.pngChunks[0].data, &offset, &length));
  std::vector<char> profile(1000);
  int n = stbi_zlib_decode_buffer(profile.data(), 1000,
                                  reinterpret_cast<const char*>(back.metadata.pngChunks[0].data.data() + offset),
                                  static_cast<int>(length));
  ASSERT_EQ(132, n);
  profile.resize(132);
  std::vector<uint8_t> expected = TestProfile("RGB ");
  EXPECT_TRUE(memcmp(expected.data(), profile.data(), 132) == 0);
}

TEST(ImageCodec, SixteenBitFilesAreRoundedAndSaySo) {
  // A 64 × 1 grey ramp of 16-bit samples, big-endian in the file.
  std::vector<uint8_t> rows = {0};
  for (uint32_t i = 0; i < 64; ++i) {
    uint32_t v = i * 65535 / 63;
    rows.push_back(static_cast<uint8_t>(v >> 8));
    rows.push_back(static_cast<uint8_t>(v));
  }
  RasterImage image = DecodedBytes(HandMadePng(64, 1, 16, 0, rows, {}));
  EXPECT_EQ(16, image.bitsPerChannel);
  EXPECT_EQ(1, image.channels);
  std::set<uint8_t> values;
  for (size_t i = 0; i < image.bgra.size(); i += 4) values.insert(image.bgra[i]);
  EXPECT_EQ(64u, values.size());
}

namespace {

// Items and workers as a row describes them; item 0 may be made to wait
// until item 1 has ended, so that the two end out of order.
struct WorkScript {
  uint32_t refusedWorkers = 0;  // setUp fails for workers below this
  size_t stopAt = SIZE_MAX;     // run answers false for this item
  bool firstWaitsForSecond = false;
  HANDLE secondDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<uint32_t> ranOn = std::vector<uint32_t>(8, ~0u);
  std::vector<size_t> delivered;
  volatile LONG tornDown = 0;
  ~WorkScript() { CloseHandle(secondDone); }
};

OrderedWork ScriptedWork(WorkScript* w) {
  OrderedWork work{};
  work.context = w;
  work.setUp = [](void* c, uint32_t worker) { return worker >= static_cast<WorkScript*>(c)->refusedWorkers; };
  work.run = [](void* c, uint32_t worker, size_t item) {
    WorkScript* w = static_cast<WorkScript*>(c);
    if (item == 0 && w->firstWaitsForSecond) WaitForSingleObject(w->secondDone, 60000);
    w->ranOn[item] = worker;
    if (item == 1) SetEvent(w->secondDone);
    return item != w->stopAt;
  };
  work.tearDown = [](void* c, uint32_t) { InterlockedIncrement(&static_cast<WorkScript*>(c)->tornDown); };
  work.deliver = [](void* c, size_t item) { static_cast<WorkScript*>(c)->delivered.push_back(item); };
  return work;
}

}  // namespace

TEST(OrderedWork, DeliversInItemOrderAndStopsWhereAnItemSaysSo) {
  struct Row {
    const char* what;
    uint32_t workers, refused;
    size_t stopAt;
    bool outOfOrder;
    size_t expectedRan;
  };
  const Row rows[] = {
      {"item 1 ends before item 0", 2, 0, SIZE_MAX, true, 5},
      {"one worker could not start", 3, 1, SIZE_MAX, false, 5},
      {"no worker could start", 2, 2, SIZE_MAX, false, 0},
      {"one worker, stopped at item 2", 1, 0, 2, false, 3},
  };
  for (const Row& r : rows) {
    WorkScript script;
    script.refusedWorkers = r.refused;
    script.stopAt = r.stopAt;
    script.firstWaitsForSecond = r.outOfOrder;
    OrderedWork work = ScriptedWork(&script);
    EXPECT_EQ(r.expectedRan, RunOrderedWork(work, 5, r.workers)) << r.what;
    std::vector<size_t> expected;
    for (size_t i = 0; i < r.expectedRan; ++i) expected.push_back(i);
    EXPECT_EQ(expected, script.delivered) << r.what;
    for (size_t i = 0; i < r.expectedRan; ++i) EXPECT_GE(script.ranOn[i], r.refused) << r.what << ": item " << i;
    if (r.outOfOrder) {
      EXPECT_NE(script.ranOn[0], script.ranOn[1]) << "both items on one worker";
    }
    EXPECT_EQ(static_cast<LONG>(r.workers > r.refused ? r.workers - r.refused : 0), script.tornDown) << r.what;
  }
}
