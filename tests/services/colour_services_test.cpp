// colorServices as a plug-in calls it: the order of refusals, the untouched
// record after each of them, sample points and special colours, and the real
// colour dialog (driven from outside by tests/support/with-display).
#include <windows.h>
#include <commdlg.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "call/job_record.h"
#include "tests/support/call_scope.h"
#include "services/colour_convert.h"
#include "services/colour_services.h"
#include "tests/support/caller.h"
#include "tests/support/display.h"
#include "tests/support/todo_wine.h"

namespace {

// The image-access hooks record their calls; each can be made to refuse.
std::string gHookCalls;
int32_t gCheckAnswer = 1, gBeginAnswer = 1;
int32_t CheckHook(JobRecord*) { gHookCalls += 'C'; return gCheckAnswer; }
int32_t BeginHook(JobRecord*) { gHookCalls += 'B'; return gBeginAnswer; }
int32_t EndHook(JobRecord*) { gHookCalls += 'E'; return 1; }

constexpr uint32_t kWidth = 5, kHeight = 3;

struct ColourServicesTest : testing::Test {
  JobRecord job{};
  uint32_t pixels[kWidth * kHeight] = {};
  Point point{};

  void SetUp() override {
    for (uint32_t i = 0; i < kWidth * kHeight; ++i) pixels[i] = 0x80000000u | (i * 0x010203u);
    job.self = &job;
    job.width = kWidth;
    job.height = kHeight;
    job.rowPixels = kWidth;
    job.pixels = reinterpret_cast<uint8_t*>(pixels);
    job.foreground = 0x00102030;
    job.background = 0x00336699;
    job.ImageAccessCheck = CheckHook;
    job.ImageAccessBegin = BeginHook;
    job.ImageAccessEnd = EndHook;
    point = {0, 0};
    gHookCalls.clear();
    gCheckAnswer = gBeginAnswer = 1;
    PublishJob(&job);
  }
  void TearDown() override { PublishJob(nullptr); }

  // A record full of sentinel bytes, then the fields the call looks at.
  static ColorServicesInfo Record(int16_t selector, int16_t source, int16_t result, int16_t c0, int16_t c1, int16_t c2,
                                  int16_t c3 = 0x5A5A) {
    ColorServicesInfo info;
    std::memset(&info, 0xA5, sizeof info);
    info.infoSize = sizeof(ColorServicesInfo);
    info.selector = selector;
    info.sourceSpace = source;
    info.resultSpace = result;
    info.colorComponents[0] = c0;
    info.colorComponents[1] = c1;
    info.colorComponents[2] = c2;
    info.colorComponents[3] = c3;
    return info;
  }
};

#define EXPECT_COMPONENTS(info, a, b, c, d)                                                                 \
  EXPECT_TRUE((info).colorComponents[0] == (a) && (info).colorComponents[1] == (b) &&                      \
              (info).colorComponents[2] == (c) && (info).colorComponents[3] == (d))                        \
      << "expected " << (a) << "," << (b) << "," << (c) << "," << (d) << " got " << (info).colorComponents[0] \
      << "," << (info).colorComponents[1] << "," << (info).colorComponents[2] << "," << (info).colorComponents[3]

// One row per refusal; unnamed fields keep a valid convert request.
enum PointKind { kOurPoint, kNullPoint, kUnreadablePoint };
struct RefusalCase {
  const char* what;
  OSErr expected;
  int32_t infoSize = sizeof(ColorServicesInfo);
  int16_t selector = plugIncolorServicesConvertColor, source = 0, result = plugIncolorServicesHSBSpace;
  Point point = {0, 0};
  PointKind pointKind = kOurPoint;
  int32_t check = 1, begin = 1;
  bool noJob = false;
};

constexpr int16_t kSample = plugIncolorServicesSamplePoint;
const RefusalCase kRefusals[] = {
    {.what = "record one byte larger than ours", .expected = errPlugInHostInsufficient,
     .infoSize = sizeof(ColorServicesInfo) + 1},
    {.what = "Lab source", .expected = errPlugInHostInsufficient, .source = 3},
    {.what = "XYZ source", .expected = errPlugInHostInsufficient, .source = 6},
    {.what = "chosen-space source", .expected = errPlugInHostInsufficient, .source = -1},
    {.what = "Lab result", .expected = errPlugInHostInsufficient, .result = 3},
    {.what = "result space 7", .expected = errPlugInHostInsufficient, .result = 7},
    {.what = "unknown selector 4", .expected = errPlugInHostInsufficient, .selector = 4},
    {.what = "unknown selector -1", .expected = errPlugInHostInsufficient, .selector = -1},
    {.what = "sample h at the width", .expected = errInvalidSamplePoint, .selector = kSample,
     .point = {0, static_cast<int16_t>(kWidth)}},
    {.what = "sample v at the height", .expected = errInvalidSamplePoint, .selector = kSample,
     .point = {static_cast<int16_t>(kHeight), 0}},
    {.what = "sample h negative", .expected = errInvalidSamplePoint, .selector = kSample, .point = {0, -1}},
    {.what = "null sample point", .expected = paramErr, .selector = kSample, .pointKind = kNullPoint},
    {.what = "unreadable sample point", .expected = paramErr, .selector = kSample, .pointKind = kUnreadablePoint},
    {.what = "image not available", .expected = nilHandleErr, .selector = kSample, .check = 0},
    {.what = "image access refused", .expected = memFullErr, .selector = kSample, .begin = 0},
    {.what = "sample point with no running job", .expected = nilHandleErr, .selector = kSample, .noJob = true},
    {.what = "special colour with no running job", .expected = nilHandleErr,
     .selector = plugIncolorServicesGetSpecialColor, .noJob = true},
};

}  // namespace

TEST_F(ColourServicesTest, RefusalsLeaveTheRecordUntouched) {
  for (const RefusalCase& c : kRefusals) {
    SetUp();
    ColorServicesInfo info = Record(c.selector, c.source, c.result, 255, 0, 0);
    info.infoSize = c.infoSize;
    point = c.point;
    info.selectorParameter.globalSamplePoint = c.pointKind == kOurPoint ? &point : nullptr;
    if (c.pointKind == kUnreadablePoint) info.selectorParameter.globalSamplePoint = reinterpret_cast<Point*>(0x10);
    if (c.selector == plugIncolorServicesGetSpecialColor) info.selectorParameter.specialColorID = 1;
    gCheckAnswer = c.check;
    gBeginAnswer = c.begin;
    if (c.noJob) PublishJob(nullptr);
    ColorServicesInfo before = info;
    EXPECT_EQ(c.expected, ColorServices(&info)) << c.what;
    EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info)) << c.what << ": the record changed";
  }
}

TEST_F(ColourServicesTest, NullOrUnreadableRecordIsAParameterError) {
  EXPECT_EQ(paramErr, ColorServices(nullptr));
  EXPECT_EQ(paramErr, ColorServices(reinterpret_cast<ColorServicesInfo*>(static_cast<uintptr_t>(0x20))));
}

TEST_F(ColourServicesTest, OurSizeAndSmallerAreAccepted) {
  static_assert(sizeof(ColorServicesInfo) == (sizeof(void*) == 8 ? 56 : 36));
  for (int32_t size : {static_cast<int32_t>(sizeof(ColorServicesInfo)), 36, 0, -1}) {
    ColorServicesInfo info = Record(plugIncolorServicesConvertColor, 0, plugIncolorServicesHSBSpace, 255, 0, 0);
    info.infoSize = size;
    EXPECT_EQ(noErr, ColorServices(&info)) << "infoSize " << size;
    EXPECT_COMPONENTS(info, 0, 255, 255, 0x5A5A) << " for infoSize " << size;
  }
}

TEST_F(ColourServicesTest, ConvertWritesOnlyTheResultSpaceSlots) {
  ColorServicesInfo info = Record(plugIncolorServicesConvertColor, plugIncolorServicesHSBSpace,
                                  plugIncolorServicesRGBSpace, 120, 255, 255, 999);
  ColorServicesInfo before = info;
  EXPECT_EQ(noErr, ColorServices(&info));
  EXPECT_COMPONENTS(info, 0, 255, 0, 999);
  // Nothing but the components moved.
  std::memcpy(before.colorComponents, info.colorComponents, sizeof info.colorComponents);
  EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info));

}

TEST_F(ColourServicesTest, SamplePointReadsRowVColumnHBetweenTheHooks) {
  job.rowPixels = kWidth;  // rows are rowPixels apart
  pixels[1 * kWidth + 4] = 0xFF336699u;
  point = {1, 4};  // v, h: the last column of the middle row
  ColorServicesInfo info = Record(plugIncolorServicesSamplePoint, plugIncolorServicesRGBSpace,
                                  plugIncolorServicesRGBSpace, 1, 2, 3, 4);
  info.selectorParameter.globalSamplePoint = &point;
  EXPECT_EQ(noErr, ColorServices(&info));
  EXPECT_COMPONENTS(info, 51, 102, 153, 4);
  EXPECT_EQ("CBE", gHookCalls) << "hooks in order check, begin, end";

  point = {static_cast<int16_t>(kHeight - 1), static_cast<int16_t>(kWidth - 1)};
  pixels[kWidth * kHeight - 1] = 0x00000000u;
  info = Record(plugIncolorServicesSamplePoint, 0, plugIncolorServicesCMYKSpace, 1, 2, 3, 4);
  info.selectorParameter.globalSamplePoint = &point;
  EXPECT_EQ(noErr, ColorServices(&info));
  EXPECT_COMPONENTS(info, 255, 255, 255, 255);
}

TEST_F(ColourServicesTest, RefusedAccessDoesNotReadOrEnd) {
  gBeginAnswer = 0;
  ColorServicesInfo info = Record(plugIncolorServicesSamplePoint, 0, 0, 1, 2, 3);
  info.selectorParameter.globalSamplePoint = &point;
  EXPECT_EQ(memFullErr, ColorServices(&info));
  EXPECT_EQ("CB", gHookCalls);
  gHookCalls.clear();
  point = {0, static_cast<int16_t>(kWidth)};
  EXPECT_EQ(errInvalidSamplePoint, ColorServices(&info));
  EXPECT_EQ("", gHookCalls) << "bounds are checked before the image is touched";
}

TEST_F(ColourServicesTest, SpecialColours) {
  ColorServicesInfo info = Record(plugIncolorServicesGetSpecialColor, 0, plugIncolorServicesRGBSpace, 1, 2, 3);
  info.selectorParameter.specialColorID = plugIncolorServicesBackgroundColor;
  EXPECT_EQ(noErr, ColorServices(&info));
  EXPECT_COMPONENTS(info, 51, 102, 153, 0x5A5A);

  info = Record(plugIncolorServicesGetSpecialColor, 0, plugIncolorServicesRGBSpace, 1, 2, 3);
  info.selectorParameter.specialColorID = plugIncolorServicesForegroundColor;
  EXPECT_EQ(noErr, ColorServices(&info));
  EXPECT_COMPONENTS(info, 0x10, 0x20, 0x30, 0x5A5A);

  // Another identifier keeps the source colour, converted to the result space.
  info = Record(plugIncolorServicesGetSpecialColor, 0, plugIncolorServicesHSBSpace, 255, 0, 0);
  info.selectorParameter.specialColorID = 7;
  EXPECT_EQ(noErr, ColorServices(&info));
  EXPECT_COMPONENTS(info, 0, 255, 255, 0x5A5A);
}

// Windows answers 0 when the dialog cannot open; Wine without a display
// answers -1 straight away. Neither is a choice, so the record must stay as it
// was. With a display the dialog would wait for a user: this runs only without.
TEST_F(ColourServicesTest, DialogThatCannotOpenIsNotAChoice) {
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0) GTEST_SKIP() << "a display is present; see ColourDialog";
  COLORREF custom[16] = {};
  CHOOSECOLORW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.lpCustColors = custom;
  const BOOL answer = ChooseColorW(&dialog);
  EXPECT_TODO_WINE(answer == FALSE) << "got " << answer;
  ColorServicesInfo info = Record(plugIncolorServicesChooseColor, 0, plugIncolorServicesHSBSpace, 255, 0, 0);
  ColorServicesInfo before = info;
  EXPECT_EQ(paramErr, ColorServices(&info));
  EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info)) << "the record changed";
}

// Run by tests/support/with-display under a virtual display, which answers the dialog
// with Return (OK: the initial colour comes back) or Escape (cancel).
namespace {
void AnswerDialog(bool expectChosen, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  SKIP_UNLESS_ON_PRIVATE_DISPLAY() << "the dialog needs a display and a key press";
  // A real owner window, standing in for the editor's.
  HWND owner = CreateWindowExW(0, L"STATIC", L"editor", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(nullptr, owner) << "error " << GetLastError();
  JobRecord job{};
  job.self = &job;
  job.hostWindow = reinterpret_cast<uintptr_t>(owner);
  PublishJob(&job);
  ColorServicesInfo info;
  std::memset(&info, 0xA5, sizeof info);
  info.infoSize = sizeof info;
  info.selector = plugIncolorServicesChooseColor;
  info.sourceSpace = plugIncolorServicesRGBSpace;
  info.resultSpace = plugIncolorServicesHSBSpace;
  info.colorComponents[0] = 0;
  info.colorComponents[1] = 0;
  info.colorComponents[2] = 255;
  info.colorComponents[3] = 42;
  ColorServicesInfo before = info;
  OSErr result = ColorServices(&info);
  PublishJob(nullptr);
  DestroyWindow(owner);
  if (expectChosen) {
    EXPECT_EQ(noErr, result);
    EXPECT_COMPONENTS(info, 240, 255, 255, 42) << " (pure blue as HSB)";
  } else {
    EXPECT_EQ(paramErr, result);
    EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info)) << "a cancelled dialog changed the record";
  }
}
}  // namespace

TEST(ColourDialog, AnsweredWithReturn) { AnswerDialog(true); }
TEST(ColourDialog, AnsweredWithEscape) { AnswerDialog(false); }
