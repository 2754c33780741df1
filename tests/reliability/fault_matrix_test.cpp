// Every fault kind in every selector, and bad pointers handed to every host
// callback: each is survived, and the matrix is printed for the record.
#include <windows.h>

#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/conversation.h"

namespace {

struct TroubleRun {
  JobStatusRecord last{};
  std::string log;
  bool pixelsKept = false;
  bool serverAlive = false;
};

TroubleRun RunTrouble(const std::wstring& mode, bool about) {
  TroubleRun run;
  std::wstring log = TempFile(L"matrix");
  SetTestEnvironment(L"PLUGHOST_TROUBLE", mode.c_str());
  SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", log.c_str());
  ServerSession s;
  SetTestEnvironment(L"PLUGHOST_TROUBLE", nullptr);
  SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", nullptr);
  SetHost(s);
  Catalogue cat;
  Scan(s, SamplesFolder(), &cat);
  int index = cat.Find(L"Trouble");
  TestImage input = TestImage::Pattern(12, 7);
  if (about) {
    if (s.Request(REQ_ABOUT_START, index, nullptr, 0) == ST_OK) PollUntilDone(s, REQ_ABOUT_POLL, &run.last);
  } else if (StartFilter(s, index, input) == ST_OK) {
    PollUntilDone(s, REQ_FILTER_POLL, &run.last);
    TestImage back;
    run.pixelsKept = Fetch(s, &back) == ST_OK && back.pixels == input.pixels;
  }
  run.serverAlive = SetHost(s) == ST_OK && s.Quit() == 0;
  run.log = ReadWholeFile(log);
  DeleteFileW(log.c_str());
  return run;
}

std::string Answer(const std::string& log) {
  size_t at = log.find("answer ");
  if (at == std::string::npos) return "";
  std::string answer = log.substr(at + 7, log.find('\n', at) - at - 7);
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();  // written in text mode
  return answer;
}

const wchar_t kCrashed[] = L"The plug-in has encountered an error and crashed";

}  // namespace

TEST(FaultMatrix, EveryFaultKindInTheAboutBoxIsSurvived) {
  for (const wchar_t* kind : {L"read", L"write", L"nullcall", L"divide", L"illegal", L"breakpoint", L"privileged"}) {
    TroubleRun run = RunTrouble(std::wstring(L"fault-about-") + kind, true);
    EXPECT_EQ(JOB_DONE, run.last.state) << Narrow(kind);
    EXPECT_TRUE(run.serverAlive) << Narrow(kind);
  }
}

TEST(FaultMatrix, BadPointersHandedToHostCallbacks) {
  struct Row {
    const wchar_t* callback;
    const char* expected;  // the callback's answer, or "crash" when the fault is the plug-in's to take
  };
  const Row rows[] = {
      {L"handle-dispose", "0"},      {L"property-null", "-50"},   {L"property-bad", "-50"},
      {L"buffer-allocate", "-50"},   {L"handle-lock", "crash"},   {L"handle-getsize", "crash"},
      {L"handle-setsize", "crash"},  {L"buffer-lock", "any"},     {L"buffer-free", "any"},
      {L"suite-name", "crash"},      {L"suite-out", "crash"},     {L"block-free", "any"},
      {L"ports-read", "crash"},      {L"ports-write", "crash"},   {L"colour", "crash"},
      {L"display", "crash"},         {L"display-dc", "0"},
  };
  printf("| callback | outcome | job | pixels | server |\n|---|---|---|---|---|\n");
  for (const Row& row : rows) {
    TroubleRun run = RunTrouble(std::wstring(L"badptr-") + row.callback, false);
    std::string answer = Answer(run.log);
    bool crashed = std::wstring(run.last.message) == kCrashed;
    std::string outcome = crashed ? "fault caught, -32767" : "answered " + answer;
    printf("| %s | %s | %s | %s | %s |\n", Narrow(row.callback).c_str(), outcome.c_str(),
           run.last.state == JOB_DONE ? "done" : "failed", run.pixelsKept ? "restored" : "changed",
           run.serverAlive ? "serving" : "DOWN");
    EXPECT_TRUE(run.serverAlive) << Narrow(row.callback);
    std::string expected = row.expected;
    if (expected == "crash") {
      EXPECT_TRUE(crashed) << Narrow(row.callback) << ": expected a caught fault, got answer '" << answer << "'";
      EXPECT_TRUE(run.pixelsKept) << Narrow(row.callback);
    } else if (expected != "any") {
      EXPECT_EQ(expected, answer) << Narrow(row.callback);
    } else {
      EXPECT_TRUE(crashed || !answer.empty()) << Narrow(row.callback);
    }
  }
}
