// Recorded settings through the real server: the start with a mode and
// settings, what every job records, and plug-ins that read, write, dispose
// of and abuse the descriptor.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "gtest/gtest.h"
#include "wire/version.h"
#include "settings/descriptor_bytes.h"
#include "settings/settings_json.h"
#include "tests/invocation/sample_session.h"

namespace {

std::string Block(const RecordedSettings& settings) {
  std::string block;
  EXPECT_TRUE(BuildSettingsBlock(settings, &block));
  return block;
}

// Settings read from a file's text, as a person writes them.
std::string BlockFromJson(const char* json) {
  RecordedSettings settings;
  JsonError error;
  EXPECT_TRUE(SettingsFromJson(json, kUtf8SettingsCodec, &settings, &error)) << error.message;
  return Block(settings);
}

// One job through REQ_FILTER_START_EX, polled to its end, its image fetched.
Outcome RunWithSettings(SampleSession& ss, const wchar_t* plugin, uint32_t mode, const std::string& settings,
                        const TestImage& input) {
  Outcome o;
  o.startStatus = StartFilterEx(ss.s, ss.Index(plugin), mode, settings, input);
  if (o.startStatus != ST_OK) return o;
  o.pollStatus = PollUntilDone(ss.s, REQ_FILTER_POLL, &o.last);
  o.fetchStatus = Fetch(ss.s, &o.image);
  return o;
}

std::vector<std::string> Without(std::vector<std::string> lines, const char* prefix) {
  std::vector<std::string> kept;
  for (std::string& line : lines)
    if (line.rfind(prefix, 0) != 0) kept.push_back(line);
  return kept;
}

// Posterize's result computed here: each channel named rounded to the
// nearest of `levels` evenly spaced values.
TestImage Posterized(const TestImage& input, int levels, const char* channels) {
  TestImage out = input;
  const char order[3] = {'B', 'G', 'R'};  // pixel bytes are blue, green, red, alpha
  for (size_t i = 0; i < out.pixels.size(); ++i)
    if (i % 4 != 3 && strchr(channels, order[i % 4]) != nullptr)
      out.pixels[i] = PosterizeReference(input.pixels[i], levels);
  return out;
}

uint32_t ItemCount(const std::string& d) {
  size_t offset = 0;
  DescriptorItem item;
  uint32_t n = 0;
  while (NextDescriptorItem(reinterpret_cast<const uint8_t*>(d.data()), d.size(), &offset, &item)) ++n;
  return n;
}

}  // namespace

TEST(ServerInfo, ReportsItsProtocolAndTheKindsItServes) {
  ServerSession s;
  ServerInfoReply info{};
  ASSERT_TRUE(PlughostServerInfo(&s.client, &info));
  EXPECT_EQ(PROTOCOL_VERSION, info.protocolVersion);
  EXPECT_EQ(kPlughostVersionNumber, info.productVersion);
  uint64_t expected = 1ull << REQ_QUIT;
  for (uint32_t kind = REQ_SCAN_FOLDER; kind <= REQ_JOB_WAIT; ++kind) expected |= 1ull << kind;
  EXPECT_EQ(expected, info.servedKinds);
}

TEST(RecordedSettings, FetchWaitsForAJobToEndAndEveryJobRecords) {
  TroubleMode trouble(L"progress-wait");
  Rendezvous meet;
  SampleSession ss;
  RecordedSettings got;
  EXPECT_EQ(ST_BAD_INDEX, FetchSettings(ss.s, &got)) << "no job has run";
  ASSERT_EQ(ST_OK, StartFilter(ss.s, ss.Index(L"Trouble"), TestImage::Pattern(8, 8)));
  ASSERT_TRUE(meet.WaitReady());
  EXPECT_EQ(ST_NOT_READY, FetchSettings(ss.s, &got)) << "the running job has recorded nothing yet";
  meet.Go();
  JobStatusRecord last;
  ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_FILTER_POLL, &last));
  ASSERT_EQ(ST_OK, FetchSettings(ss.s, &got));
  EXPECT_EQ(u"Trouble", got.name);
  EXPECT_EQ(u"PluginMain", got.entry);
  EXPECT_FALSE(got.hasDescriptor);
  EXPECT_FALSE(got.hasParameters);
  ASSERT_EQ(ST_OK, FetchSettings(ss.s, &got)) << "fetching again gives the same";
  EXPECT_EQ(u"Trouble", got.name);
}

TEST(RecordedSettings, EveryTypeSurvivesWritingRecordingAndReplay) {
  RecordedSettings recorded;
  {
    TroubleMode trouble(L"descriptor-write");
    SampleSession ss;
    Outcome o = RunFilter(ss, L"Trouble", TestImage::Pattern(8, 8));
    ASSERT_EQ(JOB_DONE, o.last.state);
    const std::vector<std::string> log = trouble.Selectors();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("close 0", log.back()) << "written at Finish";
    ASSERT_EQ(ST_OK, FetchSettings(ss.s, &recorded));
  }
  ASSERT_TRUE(recorded.hasDescriptor);
  EXPECT_EQ(14u, ItemCount(recorded.descriptor));
  ASSERT_TRUE(recorded.hasParameters);
  EXPECT_EQ("trouble", recorded.parameters);

  // Through the file a person keeps, and back.
  RecordedSettings reread;
  JsonError error;
  ASSERT_TRUE(SettingsFromJson(SettingsToJson(recorded, kUtf8SettingsCodec), kUtf8SettingsCodec, &reread, &error))
      << error.message;
  EXPECT_EQ(recorded.descriptor, reread.descriptor);

  TroubleMode trouble(L"descriptor-read");
  SampleSession ss;
  Outcome o = RunWithSettings(ss, L"Trouble", START_MODE_REPLAY, Block(reread), TestImage::Pattern(8, 8));
  ASSERT_EQ(JOB_DONE, o.last.state);
  const std::vector<std::string> expected = {
      "start",
      "playInfo 0",
      "parameters trouble",
      "read Lvls long -7",
      "read Gmma doub 1.5",
      "read Rds  UntF #Pxl 2.5",
      "read Inv  bool 1",
      "read Nm   TEXT warm",
      "read Pth  alis C:\\data",
      "read Md   enum Prcp",
      "read Lyr  type Lyr ",
      "read Ref  obj  Lyr  indx 3",
      "read Clr  Objc RGBC",
      "read Clr /Rd   doub 255",
      "read Clr /close 0",
      "read Cnt  long 3",
      "read Str  TEXT Pascal text",
      "read SCls GlbC Cls ",
      "read SObj GlbO Obj ",
      "read SObj/Rd   doub 255",
      "read SObj/close 0",
      "read close 0",
      "continue",
      "finish",
  };
  // A replay sends no Parameters selector, and Prepare is of no interest here.
  EXPECT_EQ(expected, Without(trouble.Selectors(), "prepare"));
}

TEST(RecordedSettings, TheModeDecidesPlayInfoTheParametersSelectorAndWhatIsOffered) {
  const std::string settings = BlockFromJson(R"({"descriptor": {"Lvls": 5}, "parameters": "b2ZmZXJlZA=="})");
  struct Row {
    uint32_t mode;
    std::vector<std::string> log;
  };
  const Row rows[] = {
      {START_MODE_PLAIN, {"parameters", "start", "playInfo 0", "parameters ", "read nothing"}},
      {START_MODE_DIALOG, {"parameters", "start", "playInfo 1", "parameters offered", "read Lvls long 5"}},
      {START_MODE_REPLAY, {"start", "playInfo 0", "parameters offered", "read Lvls long 5"}},
      {START_MODE_SILENT, {"start", "playInfo 2", "parameters offered", "read Lvls long 5"}},
  };
  for (const Row& row : rows) {
    TroubleMode trouble(L"descriptor-read");
    SampleSession ss;
    Outcome o = RunWithSettings(ss, L"Trouble", row.mode, settings, TestImage::Pattern(4, 4));
    ASSERT_EQ(JOB_DONE, o.last.state) << "mode " << row.mode;
    std::vector<std::string> log = trouble.Selectors();
    log.resize(std::min(log.size(), row.log.size() + 1));  // through the first read, and Prepare
    EXPECT_EQ(row.log, Without(log, "prepare")) << "mode " << row.mode;
  }
}

TEST(RecordedSettings, MalformedStartsAreRefusedAndRunNothing) {
  SampleSession ss;
  const int invert = ss.Index(L"Invert");
  const std::string good = BlockFromJson(R"({"descriptor": {"Lvls": 5}})");
  const std::vector<uint8_t> image = TestImage::Pattern(3, 2).Block();
  // A payload of header fields, settings and image bytes.
  auto payload = [&](uint32_t headerBytes, uint32_t mode, uint32_t source, const std::string& settings,
                     uint32_t settingsBytes, size_t imageBytes) {
    std::vector<uint8_t> p(headerBytes < 16 ? 16 : headerBytes);
    const FilterStartExHeader h{headerBytes, mode, source, settingsBytes};
    memcpy(p.data(), &h, sizeof(h));
    p.insert(p.end(), settings.begin(), settings.end());
    p.insert(p.end(), image.begin(), image.begin() + static_cast<ptrdiff_t>(imageBytes));
    return p;
  };
  auto changed = [&](size_t offset, uint8_t value) {
    std::string s = good;
    s[offset] = static_cast<char>(value);
    return s;
  };
  const uint32_t n = static_cast<uint32_t>(good.size());
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
    int64_t status;
  };
  const Row rows[] = {
      {"no payload", {}, ST_BAD_PAYLOAD},
      {"a short header", std::vector<uint8_t>(15), ST_BAD_PAYLOAD},
      {"a header that says it is 12 bytes", payload(12, 2, 0, good, n, image.size()), ST_BAD_PAYLOAD},
      {"mode 4", payload(16, 4, 0, good, n, image.size()), ST_BAD_PAYLOAD},
      {"a shared image, not served yet", payload(16, 2, IMAGE_SOURCE_SHARED, good, n, image.size()), ST_BAD_PAYLOAD},
      {"image source 9", payload(16, 2, 9, good, n, image.size()), ST_BAD_PAYLOAD},
      {"settings past the end", payload(16, 2, 0, good, 0xFFFFFFF0u, image.size()), ST_BAD_PAYLOAD},
      {"settings a byte short", payload(16, 2, 0, good, n - 1, image.size()), ST_BAD_PAYLOAD},
      {"settings of another magic", payload(16, 2, 0, changed(0, 'X'), n, image.size()), ST_BAD_PAYLOAD},
      {"settings of version 2", payload(16, 2, 0, changed(4, 2), n, image.size()), ST_BAD_PAYLOAD},
      {"a descriptor item of unknown kind", payload(16, 2, 0, changed(32 + 4, 99), n, image.size()), ST_BAD_PAYLOAD},
      {"a settings block in plain mode is checked too", payload(16, 0, 0, changed(0, 'X'), n, image.size()),
       ST_BAD_PAYLOAD},
      {"no image header", payload(16, 2, 0, good, n, 20), ST_BAD_PAYLOAD},
      {"pixels missing", payload(16, 2, 0, good, n, image.size() - 1), ST_NO_IMAGE},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.status, ss.s.Request(REQ_FILTER_START_EX, invert, row.bytes.data(),
                                       static_cast<uint32_t>(row.bytes.size())))
        << row.what;
    JobStatusRecord last;
    EXPECT_EQ(ST_NO_IMAGE, Poll(ss.s, REQ_FILTER_POLL, &last)) << row.what << ": a job ran";
  }
  RecordedSettings got;
  EXPECT_EQ(ST_BAD_INDEX, FetchSettings(ss.s, &got)) << "no job has run";

  // What is well formed runs: a longer header's unknown fields are skipped,
  // and no settings at all is a replay of nothing.
  for (const std::vector<uint8_t>& p :
       {payload(24, 2, 0, good, n, image.size()), payload(16, 2, 0, std::string(), 0, image.size())}) {
    ASSERT_EQ(ST_OK, ss.s.Request(REQ_FILTER_START_EX, invert, p.data(), static_cast<uint32_t>(p.size())));
    JobStatusRecord last;
    ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_FILTER_POLL, &last));
    EXPECT_EQ(JOB_DONE, last.state);
    TestImage back;
    ASSERT_EQ(ST_OK, Fetch(ss.s, &back)) << "the fetch hands back the image alone";
    ASSERT_EQ(3u, back.width);
    EXPECT_EQ(255 - image[IMAGE_HEADER_BYTES], back.pixels[0]);
  }
}

TEST(RecordedSettings, APluginThatDisposesOfTheDescriptorIsServed) {
  const std::string settings = BlockFromJson(R"({"descriptor": {"Lvls": 5, "Nm  ": "warm"}})");
  TroubleMode trouble(L"descriptor-dispose");
  SampleSession ss;
  for (int run = 0; run < 2; ++run) {
    Outcome o = RunWithSettings(ss, L"Trouble", START_MODE_REPLAY, settings, TestImage::Pattern(4, 4));
    ASSERT_EQ(JOB_DONE, o.last.state) << "run " << run;
    RecordedSettings got;
    ASSERT_EQ(ST_OK, FetchSettings(ss.s, &got));
    EXPECT_FALSE(got.hasDescriptor) << "run " << run << ": what was disposed of is not recorded";
  }
}

TEST(RecordedSettings, HostileDescriptorCallsGetErrorCodes) {
  TroubleMode trouble(L"descriptor-hostile");
  SampleSession ss;
  Outcome o = RunFilter(ss, L"Trouble", TestImage::Pattern(4, 4));
  ASSERT_EQ(JOB_DONE, o.last.state);
  const std::vector<std::string> expected = {
      "hostile put-made-up-token -50",
      "hostile put-float-bad-pointer -50",
      "hostile put-text-bad-handle -50",
      "hostile put-string-bad-pointer -50",
      "hostile put-key-zero -50",
      "hostile put-integer 0",
      "hostile put-object-plain-handle -50",
      "hostile close-bad-out -50",
      "hostile close-again -50",
      "hostile open-bad-handle 0",
      "hostile open-plain-handle 0",
      "hostile key-made-up-token 0",
      "hostile open-bad-key-array 1",
      "hostile read-before-key -50",
      "hostile key 1",
      "hostile read-wrong-type -50",
      "hostile read-bad-pointer -50",
      "hostile key-bad-pointer 0",
      "hostile close-read -50",
      "hostile close-read-again -50",
  };
  std::vector<std::string> log;
  for (const std::string& line : trouble.Selectors())
    if (line.rfind("hostile", 0) == 0) log.push_back(line);
  EXPECT_EQ(expected, log);
  Outcome again = RunFilter(ss, L"Invert", TestImage::Pattern(4, 4));
  EXPECT_EQ(JOB_DONE, again.last.state) << "the server goes on";
}

TEST(RecordedSettings, PosterizeRunsHeadlessFromAFileWrittenByHand) {
  SampleSession ss;
  const TestImage input = TestImage::Pattern(70, 90);
  const std::string settings =
      BlockFromJson(R"({"plugin": {"name": "Posterize"}, "descriptor": {"Lvls": 3, "Chnl": "rg"}})");
  Outcome o = RunWithSettings(ss, L"Posterize", START_MODE_REPLAY, settings, input);
  ASSERT_EQ(JOB_DONE, o.last.state) << Narrow(o.last.message);
  EXPECT_EQ(Posterized(input, 3, "RG").pixels, o.image.pixels);

  // What it recorded replays to the same pixels.
  RecordedSettings recorded;
  ASSERT_EQ(ST_OK, FetchSettings(ss.s, &recorded));
  EXPECT_EQ(u"Posterize", recorded.name);
  EXPECT_TRUE(recorded.hasParameters);
  EXPECT_EQ(2u, ItemCount(recorded.descriptor));
  Outcome again = RunWithSettings(ss, L"Posterize", START_MODE_SILENT, Block(recorded), input);
  ASSERT_EQ(JOB_DONE, again.last.state);
  EXPECT_EQ(o.image.pixels, again.image.pixels);
}

// Runs on a virtual display only, where the dialog appears and Return
// answers it with the values it was opened with.
TEST(RecordedSettings, AReplayGivesThePixelsOfTheDialogRunItRecorded) {
  wchar_t flag[8];
  if (GetEnvironmentVariableW(L"PLUGHOST_PRIVATE_DISPLAY", flag, 8) == 0) GTEST_SKIP() << "needs the virtual display";
  SampleSession ss;
  const TestImage input = TestImage::Pattern(64, 48);
  const std::string start = BlockFromJson(R"({"descriptor": {"Lvls": 3, "Chnl": "GB"}})");
  Outcome dialog = RunWithSettings(ss, L"Posterize", START_MODE_DIALOG, start, input);
  ASSERT_EQ(JOB_DONE, dialog.last.state) << Narrow(dialog.last.message);
  EXPECT_EQ(Posterized(input, 3, "GB").pixels, dialog.image.pixels) << "the dialog opened with the file's values";
  RecordedSettings recorded;
  ASSERT_EQ(ST_OK, FetchSettings(ss.s, &recorded));
  Outcome replay = RunWithSettings(ss, L"Posterize", START_MODE_REPLAY, Block(recorded), input);
  ASSERT_EQ(JOB_DONE, replay.last.state);
  EXPECT_EQ(dialog.image.pixels, replay.image.pixels);
}
