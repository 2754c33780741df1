// Whole conversations through the real server and our own sample plug-ins.
#include <windows.h>

#include <cmath>
#include <cstring>

#include "gtest/gtest.h"
#include "invocation/filter_call.h"
#include "invocation/filter_setup.h"
#include "call/plugin_records.h"
#include "tests/invocation/sample_session.h"
#include "tests/support/display.h"

namespace {

std::wstring MessageOf(const JobStatusRecord& r) { return std::wstring(r.message); }

// The image in a section of the editor's, as the library makes it.
bool ShareImage(const TestImage& image, PlughostSharedImage* shared) {
  if (!PlughostCreateSharedImage(shared, image.width, image.height, 72.0, 72.0)) return false;
  memcpy(shared->block + sizeof(ImageBlockHeader), image.pixels.data(), image.pixels.size());
  return true;
}

}  // namespace

TEST(FilterJob, SamplesAreCatalogued) {
  SampleSession ss;
  ASSERT_EQ(ST_OK, ss.scanStatus);
  for (const wchar_t* name : {L"Invert", L"Box Blur", L"Channel Mixer", L"Probe", L"Trouble"})
    EXPECT_GE(ss.Index(name), 0) << Narrow(name);
}

TEST(FilterJob, InvertGivesExactPixelsOnAnOddNonSquareImage) {
  SampleSession ss;
  TestImage input = TestImage::Pattern(101, 150);  // three strips, the last one short
  Outcome o = RunFilter(ss, L"Invert", input);
  ASSERT_EQ(ST_OK, o.startStatus);
  ASSERT_EQ(ST_OK, o.pollStatus);
  EXPECT_EQ(JOB_DONE, o.last.state);
  EXPECT_EQ(0u, o.last.resultCode);
  EXPECT_EQ(0, o.last.message[0]);
  EXPECT_DOUBLE_EQ(1.0, o.last.progress);
  // Bytes the server does not set come back as sent.
  EXPECT_EQ(0x5C, o.last.untouched0[0]);
  EXPECT_EQ(0x5C5C, o.last.message[1]);
  EXPECT_EQ(0x5C, o.last.untouched1[7]);
  ASSERT_EQ(ST_OK, o.fetchStatus);
  ASSERT_EQ(input.pixels.size(), o.image.pixels.size());
  size_t wrong = 0;
  for (size_t i = 0; i < input.pixels.size(); ++i) {
    uint8_t expected = (i % 4 == 3) ? input.pixels[i] : static_cast<uint8_t>(255 - input.pixels[i]);
    if (o.image.pixels[i] != expected && wrong++ < 5)
      ADD_FAILURE() << "byte " << i << ": expected " << int(expected) << ", got " << int(o.image.pixels[i]);
  }
  EXPECT_EQ(0u, wrong);
  EXPECT_EQ(72.0, o.image.hres);
}

// The same job with the image in a section of the editor's: the same pixels
// as through the pipe, in place, whatever the editor does to the header or
// its own handle once the job has started.
TEST(FilterJob, SharedImageGivesThePipeJobsPixelsInPlace) {
  SampleSession ss;
  const TestImage input = TestImage::Pattern(101, 150);
  Outcome piped = RunFilter(ss, L"Invert", input);
  ASSERT_EQ(ST_OK, piped.fetchStatus);

  PlughostSharedImage shared;
  ASSERT_TRUE(ShareImage(input, &shared));
  int64_t status = -1;
  ASSERT_TRUE(PlughostStartSharedFilter(&ss.s.client, ss.Index(L"Invert"), START_MODE_PLAIN, nullptr, 0, &shared,
                                        &status));
  ASSERT_EQ(ST_OK, status);
  // The server took its own copy of the header and its own handle.
  ImageBlockHeader lie{0x7FFFFFFF, 0x7FFFFFFF, 1, 1};
  memcpy(shared.block, &lie, sizeof(lie));
  CloseHandle(static_cast<HANDLE>(shared.section));
  shared.section = nullptr;
  JobStatusRecord r;
  ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_FILTER_POLL, &r));
  EXPECT_EQ(JOB_DONE, r.state);
  std::vector<uint8_t> reply{1};
  EXPECT_EQ(ST_OK, ss.s.Request(REQ_FETCH_IMAGE, 0, nullptr, 0, &reply));
  EXPECT_TRUE(reply.empty()) << "the pixels are in the section already";
  EXPECT_EQ(0, memcmp(piped.image.pixels.data(), shared.block + sizeof(ImageBlockHeader), input.pixels.size()));
  EXPECT_EQ(ST_NO_IMAGE, Fetch(ss.s, nullptr)) << "the view went with the fetch";

  // A section too small for its header's promise, and a handle that is no
  // section, are refused and run nothing.
  PlughostSharedImage small;
  ASSERT_TRUE(PlughostCreateSharedImage(&small, 4, 4, 72.0, 72.0));
  ImageBlockHeader tall{4, 4000, 72, 72};
  memcpy(small.block, &tall, sizeof(tall));
  EXPECT_TRUE(PlughostStartSharedFilter(&ss.s.client, ss.Index(L"Invert"), START_MODE_PLAIN, nullptr, 0, &small,
                                        &status));
  EXPECT_EQ(ST_NO_IMAGE, status);
  PlughostSharedImage notSection = small;
  notSection.section = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  EXPECT_TRUE(PlughostStartSharedFilter(&ss.s.client, ss.Index(L"Invert"), START_MODE_PLAIN, nullptr, 0, &notSection,
                                        &status));
  EXPECT_EQ(ST_NO_IMAGE, status);
  CloseHandle(static_cast<HANDLE>(notSection.section));
  PlughostFreeSharedImage(&small);
  PlughostFreeSharedImage(&shared);
}

// An editor that runs job after job on one section: each start reads the
// header anew, and a handle the server already holds is not taken again.
TEST(FilterJob, ASectionServesJobAfterJobWithItsHeaderReadAnew) {
  SampleSession ss;
  const TestImage input = TestImage::Pattern(64, 40);
  Outcome piped = RunFilter(ss, L"Invert", input);
  ASSERT_EQ(ST_OK, piped.fetchStatus);
  PlughostSharedImage shared;
  ASSERT_TRUE(ShareImage(input, &shared));
  const uint8_t* pixels = shared.block + sizeof(ImageBlockHeader);
  // A start naming the server-side handle `remote`, as the library does.
  auto start = [&](HANDLE remote) {
    uint8_t payload[sizeof(FilterStartExHeader) + sizeof(SharedImageRef)];
    FilterStartExHeader head{START_EX_HEADER_BYTES, START_MODE_PLAIN, IMAGE_SOURCE_SHARED, 0};
    SharedImageRef ref{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(remote)), 0};
    memcpy(payload, &head, sizeof(head));
    memcpy(payload + sizeof(head), &ref, sizeof(ref));
    return ss.s.Request(REQ_FILTER_START_EX, ss.Index(L"Invert"), payload, sizeof(payload), nullptr);
  };
  HANDLE first = nullptr;
  auto run = [&](bool fetch) {
    HANDLE remote = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), shared.section, static_cast<HANDLE>(ss.s.client.process),
                                &remote, 0, FALSE, DUPLICATE_SAME_ACCESS));
    if (first == nullptr) first = remote;
    ASSERT_EQ(ST_OK, start(remote));
    JobStatusRecord r;
    ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_FILTER_POLL, &r));
    EXPECT_EQ(JOB_DONE, r.state);
    if (fetch) {
      EXPECT_EQ(ST_OK, ss.s.Request(REQ_FETCH_IMAGE, 0, nullptr, 0, nullptr));
    }
  };
  run(true);
  EXPECT_EQ(0, memcmp(piped.image.pixels.data(), pixels, input.pixels.size()));
  // A shorter image in the same section: only its rows are inverted back.
  ImageBlockHeader shorter{input.width, 25, 72.0, 72.0};
  memcpy(shared.block, &shorter, sizeof(shorter));
  run(false);
  const size_t top = size_t{input.width} * 25 * 4;
  EXPECT_EQ(0, memcmp(input.pixels.data(), pixels, top));
  EXPECT_EQ(0, memcmp(piped.image.pixels.data() + top, pixels + top, input.pixels.size() - top));
  // The first handle given is the server's own now, whether it still holds
  // the section through it or has closed it.
  EXPECT_EQ(ST_NO_IMAGE, start(first));
  PlughostFreeSharedImage(&shared);
}

TEST(FilterJob, BlurMatchesAnIndependentReference) {
  SampleSession ss;
  TestImage input = TestImage::Pattern(45, 70);
  Outcome o = RunFilter(ss, L"Box Blur", input);
  ASSERT_EQ(JOB_DONE, o.last.state) << Narrow(MessageOf(o.last));
  auto clamp = [](int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); };
  size_t wrong = 0;
  for (uint32_t y = 0; y < input.height; ++y)
    for (uint32_t x = 0; x < input.width; ++x)
      for (int c = 0; c < 4; ++c) {
        int expected;
        if (c == 3) {
          expected = input.At(x, y)[3];
        } else {
          int sum = 0;
          for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
              sum += input.At(clamp(x + dx, input.width - 1), clamp(y + dy, input.height - 1))[c];
          expected = (sum + 4) / 9;
        }
        if (o.image.At(x, y)[c] != expected && wrong++ < 5)
          ADD_FAILURE() << "(" << x << ", " << y << ") byte " << c << ": expected " << expected << ", got "
                        << int(o.image.At(x, y)[c]);
      }
  EXPECT_EQ(0u, wrong);
}

TEST(FilterJob, ChannelMixerRoundTripsThroughThePorts) {
  SampleSession ss;
  TestImage input = TestImage::Pattern(33, 17);
  Outcome o = RunFilter(ss, L"Channel Mixer", input);
  ASSERT_EQ(JOB_DONE, o.last.state) << Narrow(MessageOf(o.last));
  size_t wrong = 0;
  for (uint32_t y = 0; y < input.height; ++y)
    for (uint32_t x = 0; x < input.width; ++x) {
      const uint8_t* in = input.At(x, y);
      const uint8_t* out = o.image.At(x, y);
      // red takes green, green takes blue, blue takes red; transparency kept
      uint8_t expected[4] = {in[2], in[0], in[1], in[3]};
      if (memcmp(expected, out, 4) != 0 && wrong++ < 5)
        ADD_FAILURE() << "(" << x << ", " << y << ") differs";
    }
  EXPECT_EQ(0u, wrong);
}

TEST(FilterJob, FaultsInEverySelectorAreSurvivedAndPixelsRestored) {
  const wchar_t* selectors[] = {L"parameters", L"prepare", L"start", L"continue", L"finish"};
  const wchar_t* kinds[] = {L"read", L"write", L"nullcall", L"divide", L"illegal", L"breakpoint", L"privileged"};
  TestImage input = TestImage::Pattern(20, 9);
  std::vector<std::string> sent;  // a fault ends the sequence: nothing follows the faulting selector
  for (const wchar_t* selector : selectors) {
    sent.push_back(Narrow(selector));
    for (const wchar_t* kind : kinds) {
      std::wstring mode = std::wstring(L"fault-") + selector + L"-" + kind;
      TroubleMode trouble(mode.c_str());
      SampleSession ss;
      Outcome o = RunFilter(ss, L"Trouble", input);
      EXPECT_EQ(JOB_FAILED, o.last.state) << Narrow(mode);
      EXPECT_EQ(1u, o.last.resultCode) << Narrow(mode);
      EXPECT_EQ(L"The plug-in has encountered an error and crashed", MessageOf(o.last)) << Narrow(mode);
      EXPECT_EQ(input.pixels, o.image.pixels) << Narrow(mode);
      EXPECT_EQ(sent, trouble.Selectors()) << Narrow(mode);
      // The server goes on serving.
      EXPECT_EQ(ST_OK, SetHost(ss.s)) << Narrow(mode);
      EXPECT_EQ(0u, ss.s.Quit()) << Narrow(mode);
    }
  }
}

namespace {
void PressEscape(bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_ESCAPE;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof(input));
}
}  // namespace

// The key is shared by every program of the Wine session: run by
// tests/support/with-display, in a session of its own.
TEST(FilterJob, OnlyAnEscapePressDuringTheJobCancelsIt) {
  SKIP_UNLESS_ON_PRIVATE_DISPLAY() << "presses Escape for the whole session";
  struct Row {
    const char* name;
    bool downBefore;  // as Wine leaves it after a dialog closed on the press
    bool pressDuring;
    uint8_t state;
  };
  const Row rows[] = {
      {"down before the job", true, false, JOB_DONE},
      {"pressed during the job", false, true, JOB_CANCELLED},
      {"down before, pressed again during", true, true, JOB_CANCELLED},
  };
  for (const Row& row : rows) {
    TroubleMode trouble(L"preview-wait");
    trouble.Reset();
    Rendezvous meet;
    SampleSession ss;
    PressEscape(row.downBefore);
    ASSERT_EQ(ST_OK, StartFilter(ss.s, ss.Index(L"Trouble"), TestImage::Pattern(8, 8))) << row.name;
    ASSERT_TRUE(meet.WaitReady()) << row.name;
    if (row.pressDuring) {
      PressEscape(false);
      PressEscape(true);
    }
    meet.Go();
    JobStatusRecord last{};
    PollUntilDone(ss.s, REQ_FILTER_POLL, &last);
    PressEscape(false);
    EXPECT_EQ(row.state, last.state) << row.name << ": " << Narrow(MessageOf(last));
    std::string preview = row.state == JOB_DONE ? "preview 0" : "preview -128";
    EXPECT_EQ(preview, trouble.Selectors().at(1)) << row.name;
  }
}

TEST(FilterJob, CancelInContinueStillGetsFinishAndIsReportedAsCancelled) {
  TroubleMode trouble(L"cancel-continue");
  SampleSession ss;
  TestImage input = TestImage::Pattern(16, 16);
  Outcome o = RunFilter(ss, L"Trouble", input);
  EXPECT_EQ(JOB_CANCELLED, o.last.state);
  EXPECT_EQ(13u, o.last.resultCode);
  EXPECT_EQ(L"Cancelled by user", MessageOf(o.last));
  EXPECT_EQ(input.pixels, o.image.pixels);  // the scribbled tile was undone
  std::vector<std::string> expected = {"parameters", "prepare", "start", "continue", "finish"};
  EXPECT_EQ(expected, trouble.Selectors());
}

TEST(FilterJob, ResultsOfEachSelectorEndTheCallAndRestoreThePixels) {
  // Trouble's Continue scribbles over its tile, which the next advanceState
  // writes back; a failed job of any kind must undo that.
  using Log = std::vector<std::string>;
  const Log all = {"parameters", "prepare", "start", "continue", "finish"};
  struct Row {
    const wchar_t* mode;
    uint8_t state;
    uint32_t code;
    const wchar_t* message;
    Log selectors;
  };
  const Row rows[] = {
      {L"result-parameters-1", JOB_FAILED, 15, L"Unknown error (ErrorID = 1)", {"parameters"}},
      {L"result-prepare--108", JOB_FAILED, 3, L"Out of memory", {"parameters", "prepare"}},
      // A positive answer from Start counts as a cancel.
      {L"result-start-1", JOB_CANCELLED, 13, L"Cancelled by user", {"parameters", "prepare", "start"}},
      {L"result-continue-1", JOB_FAILED, 15, L"Unknown error (ErrorID = 1)", all},
      {L"result-finish-7", JOB_FAILED, 15, L"Unknown error (ErrorID = 7)", all},
  };
  TestImage input = TestImage::Pattern(8, 8);
  for (const Row& row : rows) {
    TroubleMode trouble(row.mode);
    SampleSession ss;
    Outcome o = RunFilter(ss, L"Trouble", input);
    EXPECT_EQ(row.state, o.last.state) << Narrow(row.mode);
    EXPECT_EQ(row.code, o.last.resultCode) << Narrow(row.mode);
    EXPECT_EQ(row.message, MessageOf(o.last)) << Narrow(row.mode);
    EXPECT_EQ(row.selectors, trouble.Selectors()) << Narrow(row.mode);
    ASSERT_EQ(ST_OK, o.fetchStatus) << Narrow(row.mode);
    EXPECT_EQ(input.pixels, o.image.pixels) << Narrow(row.mode) << ": the editor's pixels were not restored";
  }
}

TEST(FilterJob, PluginsOwnErrorTextReachesTheEditor) {
  TroubleMode trouble(L"report-error");
  SampleSession ss;
  Outcome o = RunFilter(ss, L"Trouble", TestImage::Pattern(8, 8));
  EXPECT_EQ(JOB_FAILED, o.last.state);
  EXPECT_EQ(1u, o.last.resultCode);
  EXPECT_EQ(L"Internal Error: Disk of dreams is full", MessageOf(o.last));
}

TEST(FilterJob, PollSeesTheProgressOfTheLastReport) {
  TroubleMode trouble(L"progress-wait");
  Rendezvous meet;
  SampleSession ss;
  ASSERT_EQ(ST_OK, StartFilter(ss.s, ss.Index(L"Trouble"), TestImage::Pattern(8, 8)));
  ASSERT_TRUE(meet.WaitReady());
  JobStatusRecord r;
  ASSERT_EQ(ST_OK, Poll(ss.s, REQ_FILTER_POLL, &r));
  EXPECT_EQ(JOB_RUNNING, r.state);
  EXPECT_DOUBLE_EQ(0.5, r.progress);
  // While it runs, what would disturb it is refused.
  std::vector<uint8_t> text;
  EXPECT_EQ(ST_THREAD_FAILED, ss.s.Request(REQ_ABOUT_START, 0, nullptr, 0, &text));
  EXPECT_EQ(std::wstring(L"A plug-in job is still running"),
            std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size() / 2).c_str());
  EXPECT_EQ(ST_THREAD_FAILED, StartFilter(ss.s, ss.Index(L"Invert"), TestImage::Pattern(4, 4)));
  EXPECT_EQ(ST_NOT_READY, Scan(ss.s, SamplesFolder()));
  EXPECT_EQ(ST_NOT_READY, Fetch(ss.s, nullptr));
  meet.Go();
  ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_FILTER_POLL, &r));
  EXPECT_EQ(JOB_DONE, r.state);
  EXPECT_EQ(ST_OK, Fetch(ss.s, nullptr));
}

TEST(FilterJob, AbortRequestCancelsAFilterThatNeverReportsProgress) {
  TroubleMode trouble(L"abort-wait");
  SampleSession ss;
  EXPECT_EQ(ST_BAD_INDEX, ss.s.Request(REQ_FILTER_ABORT, 0, nullptr, 0));
  TestImage input = TestImage::Pattern(8, 8);
  ASSERT_EQ(ST_OK, StartFilter(ss.s, ss.Index(L"Trouble"), input));
  EXPECT_EQ(ST_OK, ss.s.Request(REQ_FILTER_ABORT, 0, nullptr, 0));
  JobStatusRecord r;
  ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_FILTER_POLL, &r));
  EXPECT_EQ(JOB_CANCELLED, r.state);
  EXPECT_EQ(13u, r.resultCode);
  TestImage back;
  ASSERT_EQ(ST_OK, Fetch(ss.s, &back));
  EXPECT_EQ(input.pixels, back.pixels);
}

TEST(FilterJob, RectanglesEmptyInOneDimensionKeepTheContinuesComing) {
  TroubleMode trouble(L"never-empty");
  SampleSession ss;
  Outcome o = RunFilter(ss, L"Trouble", TestImage::Pattern(8, 8));
  EXPECT_EQ(JOB_DONE, o.last.state);
  std::vector<std::string> expected = {"parameters", "prepare", "start",    "continue", "continue",
                                       "continue",   "continue", "continue", "finish"};
  EXPECT_EQ(expected, trouble.Selectors());
}

TEST(FilterJob, ProbeSeesTheRecordAsPromised) {
  ProbeReport report(L"probe");
  SampleSession ss;
  TestImage input = TestImage::Pattern(300, 200);
  input.hres = 71.99999;
  input.vres = 72.0;
  Outcome o = RunFilter(ss, L"Probe", input);
  ASSERT_EQ(JOB_DONE, o.last.state) << Narrow(MessageOf(o.last));
  auto v = report.Values();
  struct Expect {
    const char* key;
    const char* value;
  };
  const Expect expected[] = {
      {"selector.parameters.data", "0"}, {"serialNumber", "0"}, {"abortProc.set", "1"}, {"progressProc.set", "1"},
      {"parameters", "0"}, {"imageSize.v", "200"}, {"imageSize.h", "300"}, {"planes", "4"},
      {"filterRect.bottom", "200"}, {"filterRect.right", "300"},
      {"background.red", "51"}, {"background.green", "102"}, {"background.blue", "153"},
      {"foreground.red", "255"}, {"foreground.green", "128"}, {"foreground.blue", "0"},
      {"maxSpace", "1073741824"}, {"bufferSpace", "1073741824"},
      {"inRect.top", "0"}, {"inRect.bottom", "200"}, {"inRect.right", "300"}, {"inLoPlane", "0"}, {"inHiPlane", "3"},
      {"outRect.bottom", "0"}, {"outRect.right", "0"}, {"outHiPlane", "0"}, {"inData", "0"}, {"outData", "0"},
      {"isFloating", "0"}, {"haveMask", "0"}, {"autoMask", "0"},
      {"backColor.0", "51"}, {"backColor.1", "102"}, {"backColor.2", "153"}, {"backColor.3", "0"},
      {"foreColor.0", "255"}, {"foreColor.1", "128"}, {"foreColor.2", "0"}, {"foreColor.3", "0"},
      {"hostSig", "943868237"}, {"hostProc.set", "1"}, {"imageMode", "3"},
      {"imageHRes", "4718591"}, {"imageVRes", "4718592"}, {"wholeSize.v", "200"}, {"wholeSize.h", "300"},
      {"monitor.gamma", "0"}, {"monitor.redX", "65536"}, {"monitor.ambient", "65536"},
      {"bufferProcs.version", "2"}, {"bufferProcs.count", "5"}, {"resourceProcs.version", "3"},
      {"resourceProcs.count", "4"}, {"processEvent.set", "1"}, {"displayPixels.set", "1"},
      {"handleProcs.version", "1"}, {"handleProcs.count", "8"}, {"supportsDummyChannels", "0"},
      {"supportsAlternateLayouts", "1"}, {"wantLayout", "1"}, {"filterCase", "4"}, {"dummyPlaneValue", "0"},
      {"advanceState.set", "1"}, {"supportsAbsolute", "1"}, {"wantsAbsolute", "0"}, {"getPropertyObsolete.set", "1"},
      {"cannotUndo", "0"}, {"supportsPadding", "1"}, {"inputPadding", "0"}, {"outputPadding", "0"},
      {"samplingSupport", "2"}, {"inputRate", "65536"}, {"maskRate", "0"}, {"colorServices.set", "1"},
      {"inLayerPlanes", "3"}, {"inTransparencyMask", "1"}, {"outLayerPlanes", "3"}, {"absTransparencyMask", "1"},
      {"imageServicesProcs.version", "1"}, {"imageServicesProcs.count", "6"}, {"propertyProcs.version", "1"},
      {"propertyProcs.count", "2"}, {"inTileHeight", "200"}, {"inTileWidth", "300"}, {"outTileHeight", "200"},
      {"absTileWidth", "300"}, {"descriptor.recordInfo", "1"}, {"descriptor.playInfo", "0"},
      {"descriptor.writeCount", "16"}, {"descriptor.readCount", "18"}, {"descriptor.openWrite", "1"},
      {"descriptor.handle", "0"},
      {"errorString.set", "1"}, {"channelPortProcs.version", "1"}, {"channelPortProcs.count", "3"},
      {"document.imageMode", "3"}, {"document.depth", "8"}, {"document.bounds.bottom", "200"},
      {"document.bounds.right", "300"}, {"document.redLUT.200", "200"},
      {"channel.red.port", "1"}, {"channel.red.type", "1"}, {"channel.red.name", "red"},
      {"channel.green.port", "2"}, {"channel.green.name", "green"}, {"channel.blue.port", "3"},
      {"channel.blue.type", "3"}, {"channel.alpha.port", "4"}, {"channel.alpha.type", "16"},
      {"channel.alpha.name", "alpha"}, {"sSPBasic.set", "1"}, {"plugInRef", "1"}, {"depth", "8"},
      {"big.using32", "0"}, {"big.imageSize32.v", "200"}, {"big.imageSize32.h", "300"},
      {"big.inRect32.bottom", "200"}, {"big.inRect32.right", "300"}, {"big.outRect32.right", "0"},
      {"reservedTail.nonZero", "0"},
      {"property.docW", "300"}, {"property.docH", "200"}, {"property.mode", "3"}, {"property.nuch", "4"},
      {"property.vers", "524288"}, {"property.capt", "-30901"}, {"property.titl", "Orvane Photo Document"},
      {"property.titl.size", "21"}, {"handle.derefIsLock", "1"}, {"handle.resize", "0"}, {"handle.size", "100"},
      {"handle.kept", "1"}, {"suite.blocks.2", "0"}, {"suite.blocks.3", "558452048"}, {"suite.buffer.1", "0"},
      {"suite.uihooks.3", "0"}, {"suite.adm", "558452048"},
  };
  for (const Expect& e : expected) {
    auto it = v.find(e.key);
    if (it == v.end()) ADD_FAILURE() << e.key << ": expected " << e.value << ", got nothing";
    else EXPECT_EQ(e.value, it->second) << e.key;
  }
}

TEST(FilterJob, ImageWiderThanSixteenBitsNeedsThirtyTwoBitCoordinates) {
  TestImage input = TestImage::Pattern(70000, 10);
  {
    // On the 32-bit rectangles: exact pixels, and the loop ends when those
    // are empty (their 16-bit copies would not be: 70,000 wraps to 4,464).
    TroubleMode trouble(L"coords32");
    SampleSession ss;
    Outcome o = RunFilter(ss, L"Trouble", input);
    ASSERT_EQ(JOB_DONE, o.last.state) << Narrow(MessageOf(o.last));
    ASSERT_EQ(input.pixels.size(), o.image.pixels.size());
    size_t wrong = 0;
    for (size_t i = 0; i < input.pixels.size(); ++i) {
      uint8_t expected = (i % 4 == 3) ? input.pixels[i] : static_cast<uint8_t>(255 - input.pixels[i]);
      if (o.image.pixels[i] != expected && wrong++ < 5)
        ADD_FAILURE() << "byte " << i << ": expected " << int(expected) << ", got " << int(o.image.pixels[i]);
    }
    EXPECT_EQ(0u, wrong);
    std::vector<std::string> expected = {"parameters", "prepare", "start", "continue", "finish"};
    EXPECT_EQ(expected, trouble.Selectors());
  }
  {
    // On the 16-bit fields: they hold 32767, never a wrapped width, and the
    // job fails with its own text and the editor's pixels back.
    ProbeReport report(L"probe-wide");
    SampleSession ss;
    Outcome o = RunFilter(ss, L"Probe", input);
    auto v = report.Values();
    EXPECT_EQ(JOB_FAILED, o.last.state);
    EXPECT_EQ(6u, o.last.resultCode);
    EXPECT_EQ(L"The image is too large for this plug-in: it cannot address a side over 32767 pixels",
              MessageOf(o.last));
    ASSERT_EQ(ST_OK, o.fetchStatus);
    EXPECT_TRUE(input.pixels == o.image.pixels) << "expected the editor's pixels back";
    EXPECT_EQ("32767", v["imageSize.h"]);
    EXPECT_EQ("32767", v["filterRect.right"]);
    EXPECT_EQ("10", v["filterRect.bottom"]);
    EXPECT_EQ("70000", v["big.imageSize32.h"]);
    EXPECT_EQ("70000", v["document.bounds.right"]);
  }
}

TEST(FilterCall, ThirtyTwoBitRectanglesDecideWhenTheLoopEnds) {
  // In this process, on the process-wide record.
  FilterRecord* fr = PluginFilterRecord();
  BigDocumentStruct* big = &ThePluginRecords()->bigDocument;
  ZeroFilterRecordBlock();
  memset(big, 0, sizeof(*big));
  fr->bigDocumentData = big;
  big->PluginUsing32BitCoordinates = 1;
  fr->inRect = fr->outRect = Rect{0, 0, 10, 10};  // as the last tile left them
  EXPECT_TRUE(RequestsExhausted()) << "expected empty 32-bit rectangles to end the loop";
  EXPECT_EQ(0, fr->inRect.right) << "expected them copied into the 16-bit fields";
  big->inRect32 = VRect{32767, 32767, 32768, 32768};  // one pixel, whose 16-bit copy reads as empty
  EXPECT_FALSE(RequestsExhausted());
  big->PluginUsing32BitCoordinates = 0;
  fr->inRect = Rect{0, 0, 0, 0};
  EXPECT_TRUE(RequestsExhausted()) << "expected the 16-bit rectangles to decide otherwise";
  ZeroFilterRecordBlock();
  memset(big, 0, sizeof(*big));
}

// The editor's resolutions are untrusted doubles: none may reach the record
// as an undefined conversion.
TEST(FilterSetUp, ResolutionsBecomeFixedPointAndNonsenseBecomes72) {
  struct Row {
    double dpi;
    int32_t fixed;
  } const rows[] = {
      {72.0, 72 << 16},       {299.99999, 19660799}, {0.5, 32768},
      {0.0, 72 << 16},        {-300.0, 72 << 16},    {std::nan(""), 72 << 16},
      {HUGE_VAL, 72 << 16},   {-HUGE_VAL, 72 << 16}, {32767.99999, INT32_MAX},
      {1e300, INT32_MAX},
  };
  for (const Row& row : rows) EXPECT_EQ(row.fixed, FixedFromResolution(row.dpi)) << row.dpi;
}

TEST(FilterJob, SecondCallStartsFromAZeroedRecord) {
  ProbeReport report(L"probe2");
  SampleSession ss;
  TestImage input = TestImage::Pattern(30, 20);
  RunFilter(ss, L"Probe", input);  // leaves a handle, odd rectangles and a layout behind
  Outcome o = RunFilter(ss, L"Probe", input);
  auto v = report.Values();
  EXPECT_EQ(JOB_DONE, o.last.state);
  EXPECT_EQ("0", v["parameters"]);
  EXPECT_EQ("0", v["selector.parameters.data"]);
  EXPECT_EQ("1", v["wantLayout"]);
  EXPECT_EQ("0", v["inRect.top"]);
  EXPECT_EQ("30", v["inRect.right"]);
}

TEST(AboutJob, PolledRunningWhileTheBoxIsOpenThenDone) {
  TroubleMode trouble(L"about-wait");
  Rendezvous meet;
  SampleSession ss;
  ASSERT_EQ(ST_OK, ss.s.Request(REQ_ABOUT_START, ss.Index(L"Trouble"), nullptr, 0));
  ASSERT_TRUE(meet.WaitReady());
  JobStatusRecord r;
  ASSERT_EQ(ST_OK, Poll(ss.s, REQ_ABOUT_POLL, &r));
  EXPECT_EQ(JOB_RUNNING, r.state);
  EXPECT_EQ(0.0, r.progress);
  meet.Go();
  ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_ABOUT_POLL, &r));
  EXPECT_EQ(JOB_DONE, r.state);
  EXPECT_EQ(0x5C5C5C5Cu, r.resultCode);  // the About poll carries no result
  EXPECT_EQ(ST_BAD_INDEX, Poll(ss.s, REQ_ABOUT_POLL, &r));  // the job was forgotten
}

TEST(AboutJob, AFaultInTheAboutBoxIsSurvived) {
  TroubleMode trouble(L"fault-about-write");
  SampleSession ss;
  ASSERT_EQ(ST_OK, ss.s.Request(REQ_ABOUT_START, ss.Index(L"Trouble"), nullptr, 0));
  JobStatusRecord r;
  ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_ABOUT_POLL, &r));
  EXPECT_EQ(JOB_DONE, r.state);
  EXPECT_EQ(ST_OK, SetHost(ss.s));
  EXPECT_EQ(0u, ss.s.Quit());
}

TEST(AboutJob, TwoCallsEachStartWithAFreshDataWord) {
  ProbeReport report(L"about");
  SampleSession ss;
  JobStatusRecord r;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(ST_OK, ss.s.Request(REQ_ABOUT_START, ss.Index(L"Probe"), nullptr, 0));
    ASSERT_EQ(ST_OK, PollUntilDone(ss.s, REQ_ABOUT_POLL, &r));
    auto v = report.Values();
    EXPECT_EQ("0", v["about.data"]);
    EXPECT_EQ("1", v["about.plugInRef"]);
    EXPECT_EQ("1", v["about.sSPBasic.set"]);
    EXPECT_NE("0", v["about.hwnd"]);
  }
}

TEST(FilterRequests, AFetchBeforeTheLastPollDoesNotLockTheServerOut) {
  SampleSession ss;
  TestImage input = TestImage::Pattern(16, 16);
  ASSERT_EQ(ST_OK, StartFilter(ss.s, ss.Index(L"Invert"), input));
  // Fetch as soon as the job has ended, never polling it.
  TestImage back;
  int64_t st = ST_NOT_READY;
  for (int i = 0; i < 100000 && st == ST_NOT_READY; ++i) {
    st = Fetch(ss.s, &back);
    if (st == ST_NOT_READY) Sleep(1);
  }
  ASSERT_EQ(ST_OK, st);
  EXPECT_EQ(255 - input.pixels[0], back.pixels[0]);
  // The ended job's handle is still held; the next start closes it and goes on.
  Outcome o = RunFilter(ss, L"Invert", input);
  EXPECT_EQ(ST_OK, o.startStatus);
  EXPECT_EQ(JOB_DONE, o.last.state);
}

namespace {

struct Waited {
  int64_t status = -1;
  JobStatusRecord record{};
  double ms = 0;
};

double Milliseconds() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// A waiting poll whose reply is taken after `meanwhile` has run.
template <class F>
Waited WaitPoll(ServerSession& s, int64_t limitMs, F&& meanwhile) {
  Waited w;
  JobStatusRecord request{};
  const double start = Milliseconds();
  if (!PlughostSend(&s.client, REQ_JOB_WAIT, limitMs, &request, sizeof(request))) return w;
  meanwhile();
  PlughostReply reply;
  if (!PlughostReceive(&s.client, &reply)) return w;
  w.ms = Milliseconds() - start;
  w.status = reply.header.argument;
  if (reply.length == sizeof(JobStatusRecord)) memcpy(&w.record, reply.payload, sizeof(w.record));
  PlughostFreeReply(&reply);
  return w;
}

Waited WaitPoll(ServerSession& s, int64_t limitMs) {
  return WaitPoll(s, limitMs, [] {});
}

}  // namespace

// The plug-in reports half and blocks; the About box stays open until told.
// Replies that come on progress or at the end come well before the limit.
TEST(JobWait, ReturnsOnProgressOnItsLimitAndAtTheEndForBothJobKinds) {
  struct Row {
    const wchar_t* mode;
    bool filter;
  };
  const Row rows[] = {{L"progress-wait", true}, {L"about-wait", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.mode));
    TroubleMode trouble(row.mode);
    Rendezvous meet;
    SampleSession ss;
    const int index = ss.Index(L"Trouble");
    ASSERT_EQ(ST_OK, row.filter ? StartFilter(ss.s, index, TestImage::Pattern(8, 8))
                                : ss.s.Request(REQ_ABOUT_START, index, nullptr, 0));
    ASSERT_TRUE(meet.WaitReady());
    Waited w;
    if (row.filter) {
      w = WaitPoll(ss.s, JOB_WAIT_LIMIT_MS);  // half done since the last reply: no waiting
      ASSERT_EQ(ST_OK, w.status);
      EXPECT_EQ(JOB_RUNNING, w.record.state);
      EXPECT_DOUBLE_EQ(0.5, w.record.progress);
      EXPECT_LT(w.ms, JOB_WAIT_LIMIT_MS);
    }
    // Nothing moves: the wait runs out at the cap, not at the minute asked for.
    w = WaitPoll(ss.s, 60000);
    ASSERT_EQ(ST_OK, w.status);
    EXPECT_EQ(JOB_RUNNING, w.record.state);
    EXPECT_GE(w.ms, JOB_WAIT_LIMIT_MS - 20);
    EXPECT_LT(w.ms, 30000);
    // Let go while a wait is under way: the end (and the last progress) wake it.
    w = WaitPoll(ss.s, JOB_WAIT_LIMIT_MS, [&] { meet.Go(); });
    double progress = w.record.progress;
    for (int i = 0; i < 10 && w.status == ST_OK && w.record.state == JOB_RUNNING; ++i) {
      EXPECT_LT(w.ms, JOB_WAIT_LIMIT_MS);
      w = WaitPoll(ss.s, JOB_WAIT_LIMIT_MS);
      if (w.record.state == JOB_RUNNING) {
        EXPECT_GE(w.record.progress, progress + 0.01) << "a reply without news came before the limit";
      }
      progress = w.record.progress;
    }
    ASSERT_EQ(ST_OK, w.status);
    EXPECT_EQ(JOB_DONE, w.record.state);
    EXPECT_LT(w.ms, JOB_WAIT_LIMIT_MS);
    EXPECT_EQ(ST_BAD_INDEX, WaitPoll(ss.s, JOB_WAIT_LIMIT_MS).status) << "the ended job was not forgotten";
  }
}
