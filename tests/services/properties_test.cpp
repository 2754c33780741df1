#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "call/plugin_records.h"
#include "sdk/filter_record.h"
#include "services/host_services.h"
#include "tests/support/caller.h"
#include "tests/support/job_scope.h"

namespace {

constexpr intptr_t kSentinel = static_cast<intptr_t>(sizeof(intptr_t) == 8 ? 0x5EED5EED5EED5EEDll : 0x5EED5EED);

struct PropertyTest : testing::Test {
  JobScope scope;
  PropertyProcs procs{};
  void SetUp() override {
    FillPropertyProcs(&procs);
    scope.job.width = 40000;
    scope.job.height = 30000;
    PluginFilterRecord()->imageMode = 3;
    PluginFilterRecord()->planes = 4;
  }
  void TearDown() override { ZeroFilterRecordBlock(); }

  int32_t Simple(const char (&key)[5], OSErr expected = noErr, CallerLine caller = CallerLine::current()) {
    TRACE_CALLER(caller);
    intptr_t value = kSentinel;
    EXPECT_EQ(expected, procs.getPropertyProc(kHostSignature, FourCC(key), 0, &value, nullptr)) << key;
    // Only the low four bytes are the answer; the rest is the plug-in's.
    if (sizeof(intptr_t) == 8) {
      EXPECT_EQ(static_cast<uint64_t>(kSentinel) >> 32, static_cast<uint64_t>(value) >> 32) << key << ": upper half changed";
    }
    return static_cast<int32_t>(value);
  }

  std::string Text(const char (&key)[5], CallerLine caller = CallerLine::current()) {
    TRACE_CALLER(caller);
    Handle h = reinterpret_cast<Handle>(kSentinel);
    EXPECT_EQ(noErr, procs.getPropertyProc(kHostSignature, FourCC(key), 0, nullptr, &h)) << key;
    if (h == nullptr || h == reinterpret_cast<Handle>(kSentinel)) return "<no handle>";
    std::string text(*h, static_cast<size_t>(HostGetHandleSize(h)));
    HostDisposeHandle(h);
    return text;
  }
};

}  // namespace

TEST_F(PropertyTest, SimpleAnswersComeFromTheJobAndTheFilterRecord) {
  EXPECT_EQ(40000, Simple("docW")) << "the full 32-bit width, not the 16-bit record field";
  EXPECT_EQ(30000, Simple("docH"));
  EXPECT_EQ(3, Simple("mode"));
  EXPECT_EQ(4, Simple("nuch"));
  EXPECT_EQ(1, Simple("nuly"));
  EXPECT_EQ(0x80000, Simple("vers"));
  EXPECT_EQ(0, Simple("tltp"));
  // The obsolete entry of the filter record is the same reader.
  intptr_t value = 0;
  EXPECT_EQ(noErr, HostGetProperty(0, FourCC("docW"), 0, &value, nullptr));
  EXPECT_EQ(40000, static_cast<int32_t>(value));
}

TEST_F(PropertyTest, TextAnswersAreHandlesWithoutTerminator) {
  EXPECT_EQ("Orvane Photo Document", Text("titl"));
  EXPECT_EQ("Orvane Photo Image", Text("lynm"));
  std::string serial = Text("sstr");
  EXPECT_EQ(20u, serial.size());
  EXPECT_EQ(std::string::npos, serial.find_first_not_of("0123456789")) << serial;
  EXPECT_EQ(serial, Text("sstR"));

  // No memory for the handle's record or its text: no handle, and the reason.
  for (uint64_t failing : {1, 2}) {
    const int64_t before = OutstandingBlocks();
    Handle h = reinterpret_cast<Handle>(kSentinel);
    {
      AllocationFailure fail(failing);
      EXPECT_EQ(memFullErr, procs.getPropertyProc(kHostSignature, FourCC("titl"), 0, nullptr, &h))
          << "allocation " << failing << " failing";
    }
    EXPECT_EQ(nullptr, h) << "allocation " << failing << " failing";
    EXPECT_EQ(before, OutstandingBlocks()) << "allocation " << failing << " failing: a block was kept";
  }
}

TEST_F(PropertyTest, UnknownKeysLeaveBothOutValuesAlone) {
  for (uint32_t key : {FourCC("capt"), FourCC("lynu"), FourCC("xmpd"), FourCC("zzzz")}) {
    intptr_t value = kSentinel;
    Handle h = reinterpret_cast<Handle>(kSentinel);
    EXPECT_EQ(errPlugInPropertyUndefined, procs.getPropertyProc(kHostSignature, key, 0, &value, &h)) << key;
    EXPECT_EQ(kSentinel, value) << key;
    EXPECT_EQ(reinterpret_cast<Handle>(kSentinel), h) << key;
  }
}

TEST_F(PropertyTest, BadOutPointersAnswerParamErrAndTheServerGoesOn) {
  EXPECT_EQ(paramErr, procs.getPropertyProc(kHostSignature, FourCC("docW"), 0, nullptr, nullptr));
  EXPECT_EQ(paramErr, procs.getPropertyProc(kHostSignature, FourCC("titl"), 0, nullptr, nullptr));
  EXPECT_EQ(paramErr,
            procs.getPropertyProc(kHostSignature, FourCC("mode"), 0, static_cast<intptr_t*>(NoAccessAddress()), nullptr));
  const int64_t before = OutstandingBlocks();
  EXPECT_EQ(paramErr,
            procs.getPropertyProc(kHostSignature, FourCC("titl"), 0, nullptr, static_cast<Handle*>(NoAccessAddress())));
  EXPECT_EQ(before, OutstandingBlocks()) << "the text handle nobody received was kept";
  EXPECT_EQ(40000, Simple("docW")) << "a later call works as before";
}

TEST_F(PropertyTest, WatchValueSurvivesBetweenCalls) {
  EXPECT_EQ(noErr, procs.setPropertyProc(kHostSignature, FourCC("wtch"), 0, 5, nullptr));
  EXPECT_EQ(5, Simple("wtch"));
  // A new Filter call rebuilds the records but keeps the value.
  ZeroFilterRecordBlock();
  FillPropertyProcs(&procs);
  EXPECT_EQ(5, Simple("wtch"));
  EXPECT_EQ(noErr, procs.setPropertyProc(kHostSignature, FourCC("wtch"), 0, static_cast<intptr_t>(-7), nullptr));
  EXPECT_EQ(-7, Simple("wtch"));

  EXPECT_EQ(noErr, procs.setPropertyProc(kHostSignature, FourCC("plip"), 0, 1, nullptr));
  EXPECT_EQ(errPlugInPropertyUndefined, procs.setPropertyProc(kHostSignature, FourCC("docW"), 0, 1, nullptr));
  EXPECT_EQ(40000, Simple("docW"));
}
