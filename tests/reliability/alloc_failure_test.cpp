// Every allocation of a whole conversation made to fail in turn: each failure
// must become a status or result the editor can read, the editor's pixels
// must come back where promised, and nothing may leak or crash.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gtest/gtest.h"
#include "tests/support/conversation.h"

namespace {

struct ConversationOutcome {
  bool connected = false;
  uint32_t exitCode = ~0u;
  int64_t leaked = -1;
  uint64_t allocations = 0;
  std::string problem;  // empty when every reply was acceptable
};

std::wstring FaultyServer() { return BesideTest(L"plughost_faulty.exe"); }

void Check(ConversationOutcome* o, bool good, const char* what) {
  if (!good && o->problem.empty()) o->problem = what;
}

// scan, About, Blur (padding), Trouble sampled at half size, fetch; failing
// allocation `failAt` (0: none).
ConversationOutcome RunConversation(uint64_t failAt) {
  ConversationOutcome o;
  std::wstring report = TempFile(L"leaks");
  wchar_t n[32];
  _snwprintf(n, 31, L"%llu", static_cast<unsigned long long>(failAt));
  SetTestEnvironment(L"PLUGHOST_FAIL_ALLOCATION", n);
  SetTestEnvironment(L"PLUGHOST_LEAK_REPORT", report.c_str());
  SetTestEnvironment(L"PLUGHOST_TROUBLE", L"sampled");
  PlughostClient client;
  if (PlughostCreatePipe(&client, nullptr) && PlughostLaunch(&client, FaultyServer().c_str(), nullptr)) {
    o.connected = true;
    ServerSession s(client);
    TestImage input = TestImage::Pattern(70, 90);
    Catalogue cat;
    int64_t st = SetHost(s);
    if (st >= 0) {
      st = Scan(s, SamplesFolder(), &cat);
      Check(&o, st == ST_OK || st == ST_BAD_INDEX || st == ST_NO_MEMORY || st == -1, "scan status");
    }
    int about = cat.Find(L"Trouble"), blur = cat.Find(L"Box Blur"), trouble = cat.Find(L"Trouble");
    JobStatusRecord r;
    if (st == ST_OK && about >= 0) {
      st = s.Request(REQ_ABOUT_START, about, nullptr, 0);
      Check(&o, st == ST_OK || st == ST_THREAD_FAILED || st == -1, "about start status");
      if (st == ST_OK) {
        st = PollUntilDone(s, REQ_ABOUT_POLL, &r);
        Check(&o, st == ST_OK || st == ST_NO_MEMORY || st == -1, "about poll status");
      }
    }
    for (int index : {blur, trouble}) {
      if (st < 0 || index < 0) break;
      st = StartFilter(s, index, input);
      Check(&o, st == ST_OK || st == ST_THREAD_FAILED || st == -1, "filter start status");
      if (st != ST_OK) break;
      st = PollUntilDone(s, REQ_FILTER_POLL, &r);
      Check(&o, st == ST_OK || st == ST_NO_MEMORY || st == -1, "filter poll status");
      if (st == ST_NO_MEMORY) st = PollUntilDone(s, REQ_FILTER_POLL, &r);
      TestImage back;
      int64_t fetched = st == ST_OK ? Fetch(s, &back) : -1;
      if (st == ST_OK && r.state != JOB_DONE) {
        // Any failure here is the server's memory: out of memory, pixels restored.
        Check(&o, r.resultCode == 3 && std::wstring(r.message) == L"Out of memory", "filter failure result");
        Check(&o, fetched != ST_OK || back.pixels == input.pixels, "pixels restored");
      }
    }
    if (st >= 0) s.Quit();
    else s.CloseAndWait();
    PlughostWaitExit(&s.client, 30000, &o.exitCode);
  }
  SetTestEnvironment(L"PLUGHOST_FAIL_ALLOCATION", nullptr);
  SetTestEnvironment(L"PLUGHOST_LEAK_REPORT", nullptr);
  SetTestEnvironment(L"PLUGHOST_TROUBLE", nullptr);
  long long leaked = -1;
  unsigned long long count = 0;
  FILE* f = _wfopen(report.c_str(), L"r");
  if (f != nullptr) {
    if (fscanf(f, "%lld %llu", &leaked, &count) != 2) leaked = -1;
    fclose(f);
  }
  DeleteFileW(report.c_str());
  o.leaked = leaked;
  o.allocations = count;
  return o;
}

}  // namespace

TEST(AllocationFailure, EveryAllocationOfAConversationFailingInTurnIsSurvived) {
  ConversationOutcome clean = RunConversation(0);
  ASSERT_TRUE(clean.connected);
  ASSERT_EQ(0u, clean.exitCode);
  ASSERT_EQ("", clean.problem);
  EXPECT_EQ(0, clean.leaked);
  ASSERT_GT(clean.allocations, 10u);
  printf("a clean conversation makes %llu allocations\n", static_cast<unsigned long long>(clean.allocations));
  // PLUGHOST_ALLOC_ONLY=N repeats just one site, for chasing a failure.
  uint64_t first = 1, last = clean.allocations;
  if (const char* only = getenv("PLUGHOST_ALLOC_ONLY")) first = last = strtoull(only, nullptr, 10);
  for (uint64_t n = first; n <= last; ++n) {
    ConversationOutcome o = RunConversation(n);
    EXPECT_TRUE(o.connected) << "failing allocation " << n;
    EXPECT_EQ(0u, o.exitCode) << "failing allocation " << n;
    EXPECT_EQ("", o.problem) << "failing allocation " << n;
    // A loop that ended under a running job leaves its memory to the process's end.
    if (o.leaked != -2) {
      EXPECT_EQ(0, o.leaked) << "failing allocation " << n;
    }
  }
}
