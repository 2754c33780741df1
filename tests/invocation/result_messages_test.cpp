#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "gtest/gtest.h"
#include "invocation/about_call.h"
#include "call/plugin_records.h"
#include "invocation/result_messages.h"
#include "services/host_services.h"
#include "tests/support/caller.h"
#include "tests/support/job_scope.h"
#include "tests/support/server_session.h"

namespace {

struct Described {
  std::wstring text;
  uint32_t code;
};

Described Describe(int32_t result, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  wchar_t text[RESULT_TEXT_UNITS];
  for (wchar_t& unit : text) unit = L'#';
  uint32_t code = 0xDEADBEEF;
  EXPECT_EQ(1, DescribePluginResult(result, text, &code));
  return {text, code};
}

struct ResultCase {
  int32_t result;
  const wchar_t* text;
  uint32_t code;
};

// One row per group, and the rows that share a text.
const ResultCase kCases[] = {
    {-128, L"Cancelled by user", 13},
    {-45, L"Access to specified resource denied", 2},
    {-46, L"Access to specified resource denied", 2},
    {-108, L"Out of memory", 3},
    {-30905, L"Unsupported Photoshop version", 5},
    {-30101, L"Unsupported image mode", 6},
    {-32767, L"The plug-in has encountered an error and crashed", 1},
    {7, L"Unknown error (ErrorID = 7)", 15},
    {-32768, L"Unknown error (ErrorID = -32768)", 15},
    {-30902, L"Unknown error (ErrorID = -30902)", 15},
};

}  // namespace

TEST(DescribePluginResult, RowsGiveTextAndJobCode) {
  for (const ResultCase& c : kCases) {
    Described d = Describe(c.result);
    EXPECT_EQ(std::wstring(c.text), d.text) << "result " << c.result;
    EXPECT_EQ(c.code, d.code) << "result " << c.result;
  }
  wchar_t text[RESULT_TEXT_UNITS];
  EXPECT_EQ(1, DescribePluginResult(-50, text, nullptr)) << "the code place is optional";
  EXPECT_EQ(std::wstring(L"Invalid parameter detected"), text);
}

TEST(DescribePluginResult, HostInsufficientNamesTheLastRefusedSuite) {
  EXPECT_EQ(std::wstring(L"Host service not available: "), Describe(-30900).text) << "nothing refused yet";
  SPBasicSuite basic;
  FillSPBasic(&basic);
  const void* table = nullptr;
  basic.AcquireSuite("Photoshop ColorSpace Suite for Plug-ins", 1, &table);
  basic.AcquireSuite("SP Blocks Suite", 9, &table);  // too new: not a missing service
  Described d = Describe(-30900);
  EXPECT_EQ(std::wstring(L"Host service not available: Photoshop ColorSpace Suite for Plug-ins"), d.text);
  EXPECT_EQ(5u, d.code);

  std::string longName(300, 'q');
  basic.AcquireSuite(longName.c_str(), 1, &table);
  EXPECT_EQ(L"Host service not available: " + std::wstring(255, L'q'), Describe(-30900).text);
}

TEST(DescribePluginResult, ReportStringUsesThePluginTextNotItsLengthByte) {
  uint8_t errorString[256] = {2, 'D', 'i', 's', 'k', ' ', 'g', 'o', 'n', 'e', 0, 'x'};
  PluginFilterRecord()->errorString = errorString;
  Described d = Describe(-30904);
  EXPECT_EQ(std::wstring(L"Internal Error: Disk gone"), d.text);
  EXPECT_EQ(1u, d.code);

  // Unterminated: at most 255 bytes after the length byte.
  for (int i = 1; i < 256; ++i) errorString[i] = 'e';
  EXPECT_EQ(L"Internal Error: " + std::wstring(255, L'e'), Describe(-30904).text);

  PluginFilterRecord()->errorString = nullptr;  // as after a Filter call
  EXPECT_EQ(std::wstring(L"Internal Error: "), Describe(-30904).text);

  // A plug-in that pointed the field somewhere unreadable.
  PluginFilterRecord()->errorString = static_cast<uint8_t*>(NoAccessAddress());
  EXPECT_EQ(std::wstring(L"Internal Error: "), Describe(-30904).text);
  ZeroFilterRecordBlock();
}

// The About poll carries no result, so the About call's own mapping is seen
// here, in-process, on the trouble sample.
TEST(AboutCall, PluginResultBecomesTheJobsCodeAndText) {
  struct Row {
    const wchar_t* mode;
    uint32_t code;
    const wchar_t* text;
  };
  const Row rows[] = {
      {L"", 0, L""},
      {L"result-about--128", 13, L"Cancelled by user"},
      {L"result-about-3", 15, L"Unknown error (ErrorID = 3)"},
      {L"fault-about-write", 1, L"The plug-in has encountered an error and crashed"},
  };
  const std::wstring path = BesideTest(L"samples\\Trouble.8bf");
  for (const Row& row : rows) {
    SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", row.mode);
    PluginEntry entry{};
    wcsncpy(entry.path, path.c_str(), 259);
    wcscpy(entry.name, L"Trouble");
    wcscpy(entry.entryPoint, L"PluginMain");
    JobRecord job{};
    job.self = &job;
    job.resultCode = 0xDEADBEEF;
    for (wchar_t& unit : job.message) unit = L'#';
    job.message[255] = 0;
    EXPECT_EQ(1, RunAboutCall(&job, &entry)) << Narrow(row.mode);
    EXPECT_EQ(row.code, job.resultCode) << Narrow(row.mode);
    EXPECT_EQ(std::wstring(row.text), job.message) << Narrow(row.mode);
  }
  SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", nullptr);
}
