// Long runs: many jobs in one server, and editors that stall.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "gtest/gtest.h"
#include "tests/support/conversation.h"

namespace {

struct Usage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
};

Usage Measure(HANDLE process) {
  Usage u;
  GetProcessHandleCount(process, &u.handles);
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters)))
    u.privateBytes = counters.PrivateUsage;
  return u;
}

}  // namespace

TEST(Soak, AThousandFilterJobsInOneServerKeepHandlesAndMemoryFlat) {
  SetTestEnvironment(L"PLUGHOST_TROUBLE", L"cancel-continue");
  ServerSession s;
  SetTestEnvironment(L"PLUGHOST_TROUBLE", nullptr);
  ASSERT_TRUE(s.started);
  SetHost(s);
  Catalogue cat;
  ASSERT_EQ(ST_OK, Scan(s, SamplesFolder(), &cat));
  const int plugins[] = {cat.Find(L"Invert"), cat.Find(L"Box Blur"), cat.Find(L"Channel Mixer"), cat.Find(L"Trouble")};
  for (int p : plugins) ASSERT_GE(p, 0);
  TestImage image = TestImage::Pattern(64, 48);
  auto runJobs = [&](int count, int* failures) {
    for (int i = 0; i < count; ++i) {
      int p = plugins[i % 4];
      if (StartFilter(s, p, image) != ST_OK) {
        ++*failures;
        continue;
      }
      JobStatusRecord r;
      if (PollUntilDone(s, REQ_FILTER_POLL, &r) != ST_OK) ++*failures;
      bool expectFailure = p == plugins[3];
      if ((r.state == JOB_DONE) == expectFailure) ++*failures;
      TestImage back;
      if (Fetch(s, &back) != ST_OK) ++*failures;
    }
  };
  int failures = 0;
  runJobs(100, &failures);  // warm up: first loads, per-thread records, caches
  Usage before = Measure(s.client.process);
  runJobs(1000, &failures);
  Usage after = Measure(s.client.process);
  EXPECT_EQ(0, failures);
  printf("soak: handles %lu -> %lu, private bytes %llu -> %llu\n", before.handles, after.handles,
         static_cast<unsigned long long>(before.privateBytes), static_cast<unsigned long long>(after.privateBytes));
  // Each job creates a thread and loads a module; none of it may pile up.
  EXPECT_LE(after.handles, before.handles + 16);
  EXPECT_LE(after.privateBytes, before.privateBytes + 16u * 1024 * 1024);
  EXPECT_EQ(0u, s.Quit());
}

TEST(StalledEditor, AnEditorThatStopsReadingEndsTheServerAfterTheWriteLimit) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  SetHost(s);
  Catalogue cat;
  ASSERT_EQ(ST_OK, Scan(s, SamplesFolder(), &cat));
  TestImage image = TestImage::Pattern(1024, 1024);  // far more than the pipe holds
  ASSERT_EQ(ST_OK, StartFilter(s, cat.Find(L"Invert"), image));
  JobStatusRecord r;
  ASSERT_EQ(ST_OK, PollUntilDone(s, REQ_FILTER_POLL, &r));
  ASSERT_TRUE(PlughostSend(&s.client, REQ_FETCH_IMAGE, 0, nullptr, 0));
  // We never read the reply.
  DWORD start = GetTickCount();
  uint32_t code = ~0u;
  ASSERT_TRUE(PlughostWaitExit(&s.client, 60000, &code));
  DWORD took = GetTickCount() - start;
  EXPECT_EQ(0u, code);
  EXPECT_GE(took, 19000u);
  EXPECT_LT(took, 40000u);
}
