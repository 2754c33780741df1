// Every fault kind in every selector, and bad pointers handed to every host
// callback: each is survived, and the matrix is printed for the record.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/conversation.h"

namespace {

struct TroubleRun {
  JobStatusRecord last{};
  std::string log;
  bool pixelsKept = false;
  bool serverAlive = false;
  // Why a server is not serving: whether it connected at all, and its exit
  // code (~0u: it did not end when asked to).
  bool started = false;
  uint32_t exitCode = ~0u;
};

std::string Why(const TroubleRun& run) {
  char text[64];
  snprintf(text, sizeof(text), "%s, exit code 0x%08X", run.started ? "started" : "never connected",
           static_cast<unsigned>(run.exitCode));
  return text;
}

// The Trouble sample, or its build without unwind information.
std::wstring SamplesBuilt(bool bare) { return bare ? BesideTest(L"bare") : SamplesFolder(); }

TroubleRun RunTrouble(const std::wstring& mode, bool about, bool bare = false) {
  TroubleRun run;
  std::wstring log = TempFile(L"matrix");
  SetTestEnvironment(L"PLUGHOST_TROUBLE", mode.c_str());
  SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", log.c_str());
  ServerSession s;
  SetTestEnvironment(L"PLUGHOST_TROUBLE", nullptr);
  SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", nullptr);
  SetHost(s);
  Catalogue cat;
  Scan(s, SamplesBuilt(bare), &cat);
  int index = cat.Find(L"Trouble");
  TestImage input = TestImage::Pattern(12, 7);
  if (about) {
    if (s.Request(REQ_ABOUT_START, index, nullptr, 0) == ST_OK) PollUntilDone(s, REQ_ABOUT_POLL, &run.last);
  } else if (StartFilter(s, index, input) == ST_OK) {
    PollUntilDone(s, REQ_FILTER_POLL, &run.last);
    TestImage back;
    run.pixelsKept = Fetch(s, &back) == ST_OK && back.pixels == input.pixels;
  }
  run.started = s.started;
  const bool answered = SetHost(s) == ST_OK;
  run.exitCode = s.Quit();
  run.serverAlive = answered && run.exitCode == 0;
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
    EXPECT_TRUE(run.serverAlive) << Narrow(kind) << ": " << Why(run);
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
      {L"ports-read", "crash"},      {L"ports-write", "crash"},   {L"colour", "-50"},
      {L"display", "-30100"},         {L"display-dc", "0"},
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
    EXPECT_TRUE(run.serverAlive) << Narrow(row.callback) << ": " << Why(run);
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

TEST(FaultMatrix, FaultsInCodeWithoutUnwindInformationAreSurvived) {
  // No walk of the stack gets from these faults to the guard's frame.
#if defined(__x86_64__)
  HMODULE bare = LoadLibraryW((BesideTest(L"bare") + L"\\TroubleBare.8bf").c_str());
  ASSERT_NE(nullptr, bare);
  DWORD64 base = 0;
  void* entry = reinterpret_cast<void*>(GetProcAddress(bare, "PluginMain"));
  EXPECT_EQ(nullptr, RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(entry), &base, nullptr))
      << "the bare build has unwind information for its entry point";
  FreeLibrary(bare);
#endif
  std::vector<std::wstring> modes;
  for (const wchar_t* selector : {L"about", L"parameters", L"prepare", L"start", L"continue", L"finish"})
    for (const wchar_t* kind : {L"read", L"write", L"nullcall", L"divide", L"illegal", L"breakpoint", L"privileged"})
      modes.push_back(std::wstring(L"fault-") + selector + L"-" + kind);
  // Faults inside the host's callbacks, called from the bare code.
  modes.push_back(L"badptr-handle-lock");
  modes.push_back(L"badptr-ports-read");
  printf("| bare build | job | message | pixels | server |\n|---|---|---|---|---|\n");
  for (const std::wstring& mode : modes) {
    bool about = mode.rfind(L"fault-about-", 0) == 0;
    TroubleRun run = RunTrouble(mode, about, true);
    bool crashed = std::wstring(run.last.message) == kCrashed;
    printf("| %s | %s | %s | %s | %s |\n", Narrow(mode).c_str(),
           run.last.state == JOB_DONE ? "done" : (run.last.state == JOB_FAILED ? "failed" : "other"),
           about ? "-" : (crashed ? "crashed" : Narrow(run.last.message).c_str()),
           about ? "-" : (run.pixelsKept ? "restored" : "changed"),
           run.serverAlive ? "serving" : "DOWN");
    EXPECT_TRUE(run.serverAlive) << Narrow(mode) << ": expected the server serving, got it gone (" << Why(run) << ")";
    if (about) {
      EXPECT_EQ(JOB_DONE, run.last.state) << Narrow(mode);
    } else {
      EXPECT_EQ(JOB_FAILED, run.last.state) << Narrow(mode);
      EXPECT_EQ(1u, run.last.resultCode) << Narrow(mode);
      EXPECT_TRUE(crashed) << Narrow(mode) << ": expected the crash text, got '" << Narrow(run.last.message) << "'";
      EXPECT_TRUE(run.pixelsKept) << Narrow(mode);
    }
  }
}
