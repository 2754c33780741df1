// Every allocation of a whole conversation made to fail in turn: each failure
// must become a status or result the editor can read, the editor's pixels
// must come back where promised, and nothing may leak or crash.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gtest/gtest.h"
#include "server/loop_state.h"
#include "base/memory.h"
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
    // Blur's image is larger than one payload piece, so its request is read
    // into a reserved region committed piece by piece; Trouble's is one block.
    TestImage large = TestImage::Pattern(1040, 1040), input = TestImage::Pattern(70, 90);
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
      const TestImage& image = index == blur ? large : input;
      st = StartFilter(s, index, image);
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
        Check(&o, fetched != ST_OK || back.pixels == image.pixels, "pixels restored");
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

namespace {

struct TracedAllocation {
  unsigned kind = 0;
  unsigned long long size = 0;
};

std::vector<TracedAllocation> ReadTrace(const std::wstring& path) {
  std::vector<TracedAllocation> rows;
  FILE* f = _wfopen(path.c_str(), L"r");
  if (f == nullptr) return rows;
  unsigned long long number = 0;
  TracedAllocation row;
  char caller[64];
  while (fscanf(f, "%llu %u %llu %63s", &number, &row.kind, &row.size, caller) == 4) rows.push_back(row);
  fclose(f);
  return rows;
}

bool Reserved(const std::vector<TracedAllocation>& trace, unsigned long long size) {
  for (const TracedAllocation& row : trace)
    if (row.kind == ALLOC_RESERVE && row.size == size) return true;
  return false;
}

// Waits, on change notifications of the trace's folder, until the trace shows
// a reservation of `size` bytes: the server has read the header and waits
// for the payload.
bool WaitForReservation(const std::wstring& trace, unsigned long long size, DWORD limitMs) {
  std::wstring folder = trace.substr(0, trace.find_last_of(L'\\'));
  HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                               FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
  const DWORD start = GetTickCount();
  bool found = Reserved(ReadTrace(trace), size);
  while (!found && GetTickCount() - start < limitMs) {
    // The notification ends the wait early; the slice only bounds a missed one.
    if (change != INVALID_HANDLE_VALUE) {
      WaitForSingleObject(change, 200);
      FindNextChangeNotification(change);
    } else {
      WaitForSingleObject(GetCurrentProcess(), 200);
    }
    found = Reserved(ReadTrace(trace), size);
  }
  if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
  return found;
}

// Closes our end and answers how long the server took to end, in ms (or ~0u).
uint32_t MillisecondsToExitAfterClose(PlughostClient* client) {
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  PlughostClosePipe(client);
  uint32_t code = ~0u;
  if (!PlughostWaitExit(client, 60000, &code) || code != 0) return ~0u;
  QueryPerformanceCounter(&after);
  return static_cast<uint32_t>((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart);
}

}  // namespace

// A header may announce up to 4 GiB. An editor that announces that much, sends
// ten bytes and closes must cost the server one payload piece at most, and the
// server must end as promptly as an idle one.
TEST(PayloadMemory, HugeAnnouncementCommitsOnePieceAndEndsAtTheClose) {
  PlughostClient idle;
  ASSERT_TRUE(PlughostCreatePipe(&idle, nullptr) && PlughostLaunch(&idle, FaultyServer().c_str(), nullptr));
  const uint32_t idleMs = MillisecondsToExitAfterClose(&idle);
  PlughostClose(&idle);
  ASSERT_NE(~0u, idleMs);

  std::wstring trace = TempFile(L"trace");
  SetTestEnvironment(L"PLUGHOST_ALLOC_TRACE", trace.c_str());
  PlughostClient client;
  bool launched = PlughostCreatePipe(&client, nullptr) && PlughostLaunch(&client, FaultyServer().c_str(), nullptr);
  SetTestEnvironment(L"PLUGHOST_ALLOC_TRACE", nullptr);
  ASSERT_TRUE(launched);
  const uint32_t announced = 0xFFFFFFF0u;
  MessageHeader header{};
  header.kind = 5;
  header.payloadLength = announced;
  ASSERT_TRUE(PlughostSendRaw(&client, &header, sizeof(header)));
  ASSERT_TRUE(PlughostSendRaw(&client, "0123456789", 10));
  ASSERT_TRUE(WaitForReservation(trace, announced, 60000)) << "the server never read the header";
  const uint32_t hugeMs = MillisecondsToExitAfterClose(&client);
  PlughostClose(&client);

  int commits = 0;
  for (const TracedAllocation& row : ReadTrace(trace)) {
    if (row.kind == ALLOC_RESERVE) continue;  // address space only
    commits += row.kind == ALLOC_COMMIT;
    EXPECT_LE(row.size, PAYLOAD_PIECE_BYTES) << "kind " << row.kind;
  }
  EXPECT_EQ(1, commits);
  DeleteFileW(trace.c_str());
  printf("after the close: idle server %u ms, huge announcement %u ms\n", idleMs, hugeMs);
  ASSERT_NE(~0u, hugeMs) << "the server did not end with 0";
  EXPECT_LE(hugeMs, 10 * idleMs + 500) << "idle server took " << idleMs << " ms";
}

// Two images of one size in a row: the second lands in the pages the first
// one's fetch left behind, and nothing is left over at the end.
TEST(PayloadMemory, TheLastImagesRegionServesTheNextImageOfItsSize) {
  std::wstring trace = TempFile(L"trace"), report = TempFile(L"leaks");
  SetTestEnvironment(L"PLUGHOST_ALLOC_TRACE", trace.c_str());
  SetTestEnvironment(L"PLUGHOST_LEAK_REPORT", report.c_str());
  PlughostClient client;
  bool launched = PlughostCreatePipe(&client, nullptr) && PlughostLaunch(&client, FaultyServer().c_str(), nullptr);
  SetTestEnvironment(L"PLUGHOST_ALLOC_TRACE", nullptr);
  SetTestEnvironment(L"PLUGHOST_LEAK_REPORT", nullptr);
  ASSERT_TRUE(launched);
  {
    ServerSession s(client);
    Catalogue cat;
    SetHost(s);
    ASSERT_EQ(ST_OK, Scan(s, SamplesFolder(), &cat));
    TestImage image = TestImage::Pattern(1100, 1100);  // larger than one payload piece
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(ST_OK, StartFilter(s, cat.Find(L"Invert"), image));
      JobStatusRecord r;
      ASSERT_EQ(ST_OK, PollUntilDone(s, REQ_FILTER_POLL, &r));
      TestImage back;
      ASSERT_EQ(ST_OK, Fetch(s, &back));
      EXPECT_EQ(255 - image.pixels[0], back.pixels[0]) << "round " << round;
      EXPECT_EQ(image.pixels[3], back.pixels[3]) << "round " << round;
    }
    EXPECT_EQ(0u, s.Quit());
  }
  const unsigned long long size = IMAGE_HEADER_BYTES + 1100ull * 1100 * 4;
  int reservations = 0;
  for (const TracedAllocation& row : ReadTrace(trace)) reservations += row.kind == ALLOC_RESERVE && row.size == size;
  EXPECT_EQ(1, reservations);
  EXPECT_EQ("0", ReadWholeFile(report).substr(0, 1)) << "blocks left at the end: " << ReadWholeFile(report);
  DeleteFileW(trace.c_str());
  DeleteFileW(report.c_str());
}
