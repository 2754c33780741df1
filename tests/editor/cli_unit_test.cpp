// The tool's pure pieces and its file edge, without a server.
#include <windows.h>


#include "editor/cli/choices.h"
#include "editor/cli/cli_args.h"
#include "editor/cli/file_win32.h"
#include "editor/cli/image_codec.h"
#include "editor/cli/json_text.h"
#include "editor/cli/pe_machine.h"
#include "editor/cli/pixel_order.h"
#include "gtest/gtest.h"
#include "sdk/pipl.h"
#include "tests/catalogue/shortcut.h"
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
  };
  for (const Row& r : rows) {
    Parsed p = Parse(r.args);
    EXPECT_EQ(0, p.ok) << "expected a refusal: " << r.expected;
    EXPECT_EQ(r.expected, p.error);
  }
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
  std::vector<uint8_t> arm = ReadBytes(BesideTest(L"catalogue\\plugins\\blur.8bf"));
  ASSERT_GT(arm.size(), 0x200u);
  uint32_t pe = 0;
  memcpy(&pe, &arm[0x3C], 4);
  arm[pe + 4] = 0x64;
  arm[pe + 5] = 0xAA;
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
