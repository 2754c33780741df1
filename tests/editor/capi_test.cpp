// The C interface as an editor uses it: against the real server with the
// sample plug-ins, and against the scripted stand-in where a server's age or
// its idle questions matter.
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "editor/plughost.h"
#include "gtest/gtest.h"
#include "plughost_version.h"
#include "tests/editor/tool_runner.h"
#include "tests/support/server_session.h"

namespace {

std::string Utf8(const std::wstring& text) {
  std::string out(text.size() * 3 + 1, '\0');
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? n - 1 : 0);
  return out;
}

// A session with a hidden host window and a scan of `folder`; the index of
// each plug-in by name.
struct Session {
  plughost_session* s = plughost_session_create();
  std::vector<plughost_plugin> plugins;
  ~Session() { plughost_session_destroy(s); }

  plughost_status Open(const std::wstring& server, const std::wstring& folder) {
    plughost_status st = plughost_start(s, Utf8(server).c_str());
    uint64_t window = 0;
    if (st == PLUGHOST_OK) st = plughost_hidden_window(s, &window);
    if (st == PLUGHOST_OK) st = plughost_set_host(s, window, 0x000000, 0xFFFFFF);
    plugins.resize(16);
    uint32_t count = 0;
    if (st == PLUGHOST_OK) st = plughost_scan(s, Utf8(folder).c_str(), plugins.data(), 16, &count, nullptr);
    plugins.resize(count);
    return st;
  }
  uint32_t Index(const char* name) const {
    for (const plughost_plugin& p : plugins)
      if (strcmp(p.name, name) == 0) return p.index;
    return ~0u;
  }
  std::string Error() const { return plughost_last_error_text(s); }
};

// Every pixel differs; alpha is left for the filter to keep.
struct TestImage {
  std::vector<uint8_t> pixels;
  plughost_image image{};
  TestImage(uint32_t w, uint32_t h) : pixels(static_cast<size_t>(w) * h * 4) {
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + 3);
    image = plughost_image{w, h, 300.0, 300.0, pixels.data()};
  }
  bool Inverted() const {
    for (size_t i = 0; i < pixels.size(); ++i) {
      uint8_t original = static_cast<uint8_t>(i * 7 + 3);
      if (pixels[i] != (i % 4 == 3 ? original : static_cast<uint8_t>(255 - original))) return false;
    }
    return true;
  }
  bool Untouched() const {
    for (size_t i = 0; i < pixels.size(); ++i)
      if (pixels[i] != static_cast<uint8_t>(i * 7 + 3)) return false;
    return true;
  }
};

struct Progress {
  std::vector<double> seen;
  int cancelAt = -1;  // the call (counted from 0) that answers cancel
  HANDLE firstCall = nullptr;
  plughost_session* session = nullptr;
  plughost_status nested = PLUGHOST_OK;
};

int32_t OnProgress(void* context, double progress) {
  auto* p = static_cast<Progress*>(context);
  if (p->seen.empty()) {
    uint32_t count = 0;
    p->nested = plughost_scan_entries(p->session, nullptr, 0, &count);  // a call from inside the call
    if (p->firstCall != nullptr) SetEvent(p->firstCall);
  }
  p->seen.push_back(progress);
  return static_cast<int>(p->seen.size()) - 1 == p->cancelAt ? 1 : 0;
}

std::wstring Samples() { return BesideTest(L"samples"); }

// The stand-in server with a log of its requests; `asked` names the event it
// sets at each REQ_SERVER_INFO, making it a server that knows that request.
struct FakeServer {
  std::wstring log = FreshFolder(L"capi-fake") + L"\\server.log";
  explicit FakeServer(const char* mode, const wchar_t* asked = nullptr) {
    SetEnvironmentVariableA("PLUGHOST_FAKE_MODE", mode);
    SetEnvironmentVariableW(L"PLUGHOST_FAKE_LOG", log.c_str());
    SetEnvironmentVariableW(L"PLUGHOST_FAKE_ASKED", asked);
  }
  ~FakeServer() {
    for (const wchar_t* v : {L"PLUGHOST_FAKE_MODE", L"PLUGHOST_FAKE_LOG", L"PLUGHOST_FAKE_ASKED"})
      SetEnvironmentVariableW(v, nullptr);
  }
  size_t Count(const char* line) const {
    std::vector<uint8_t> bytes = ReadBytes(log);
    size_t n = 0;
    for (const std::string& l : Lines(std::string(bytes.begin(), bytes.end()))) n += l == line;
    return n;
  }
};

}  // namespace

TEST(CApi, OneVersionInTheLibraryTheServerFileAndTheServersAnswer) {
  EXPECT_EQ(static_cast<uint32_t>(PLUGHOST_VERSION_NUMBER), plughost_version());
  EXPECT_STREQ(PLUGHOST_VERSION_TEXT, plughost_version_text());
  std::wstring server = ServerExe();
  DWORD ignored = 0;
  std::vector<uint8_t> data(GetFileVersionInfoSizeW(server.c_str(), &ignored));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(GetFileVersionInfoW(server.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(static_cast<DWORD>(PLUGHOST_VERSION_MAJOR << 16 | PLUGHOST_VERSION_MINOR), fixed->dwFileVersionMS);
  EXPECT_EQ(static_cast<DWORD>(PLUGHOST_VERSION_PATCH << 16), fixed->dwFileVersionLS);
  wchar_t* text = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(Utf8(text), PLUGHOST_VERSION_TEXT);
  // A server of this build that knows REQ_SERVER_INFO gives the same number.
  Session session;
  ASSERT_EQ(PLUGHOST_OK, plughost_start(session.s, Utf8(server).c_str())) << session.Error();
  plughost_server_info info{};
  ASSERT_EQ(PLUGHOST_OK, plughost_query_server(session.s, &info));
  if (info.protocol_version > 1) {
    EXPECT_EQ(plughost_version(), info.product_version);
  }
}

TEST(CApi, MisuseIsRefusedInWords) {
  Session fresh;  // never started
  Session started;
  ASSERT_EQ(PLUGHOST_OK, plughost_start(started.s, Utf8(ServerExe()).c_str())) << started.Error();
  TestImage image(4, 2);
  plughost_image empty{4, 2, 72, 72, nullptr};
  plughost_plugin entries[2];
  uint32_t count = 0;
  std::string missing = Utf8(FreshFolder(L"capi") + L"\\missing");
  struct Row {
    const char* what;
    plughost_session* session;
    std::function<plughost_status(plughost_session*)> call;
    plughost_status expected;
    const char* words;
  } rows[] = {
      {"scan unstarted", fresh.s, [&](plughost_session* s) { return plughost_scan(s, "C:\\", entries, 2, &count, nullptr); },
       PLUGHOST_ERROR_NOT_STARTED, "plughost_start"},
      {"no such server", fresh.s, [&](plughost_session* s) { return plughost_start(s, missing.c_str()); },
       PLUGHOST_ERROR_NO_SERVER, "no server program at"},
      {"window 0", started.s, [](plughost_session* s) { return plughost_set_host(s, 0, 0, 0); },
       PLUGHOST_ERROR_ARGUMENT, "plughost_hidden_window"},
      {"not a window", started.s, [](plughost_session* s) { return plughost_set_host(s, 0x7FFF0, 0, 0); },
       PLUGHOST_ERROR_ARGUMENT, "needs a window"},
      {"filter without host", started.s,
       [&](plughost_session* s) { return plughost_filter(s, 0, &image.image, nullptr, nullptr, nullptr); },
       PLUGHOST_ERROR_NO_HOST, "plughost_set_host"},
      {"second start", started.s, [](plughost_session* s) { return plughost_start(s, nullptr); },
       PLUGHOST_ERROR_ARGUMENT, "running already"},
      {"scan a missing folder", started.s,
       [&](plughost_session* s) { return plughost_scan(s, missing.c_str(), entries, 2, &count, nullptr); },
       PLUGHOST_SERVER_BAD_FOLDER, "refused the scan"},
      {"fetch without a filter", started.s, [&](plughost_session* s) { return plughost_fetch(s, &image.image); },
       PLUGHOST_ERROR_NO_JOB, "no filter"},
      {"image without pixels", started.s,
       [&](plughost_session* s) { return plughost_filter_start(s, 0, &empty, nullptr); }, PLUGHOST_ERROR_ARGUMENT,
       "pixels"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.expected, r.call(r.session)) << r.what;
    EXPECT_EQ(r.expected, plughost_last_error(r.session)) << r.what;
    std::string text = plughost_last_error_text(r.session);
    EXPECT_NE(std::string::npos, text.find(r.words)) << r.what << ": " << text;
    EXPECT_STRNE("an unknown status", plughost_status_text(r.expected)) << r.what;
  }
  // With a host but no scan, and an index beyond the scan.
  uint64_t window = 0;
  ASSERT_EQ(PLUGHOST_OK, plughost_hidden_window(started.s, &window));
  ASSERT_EQ(PLUGHOST_OK, plughost_set_host(started.s, window, 0, 0));
  EXPECT_EQ(PLUGHOST_ERROR_NO_SCAN, plughost_about(started.s, 0, nullptr));
  // No array: the count alone.
  ASSERT_EQ(PLUGHOST_ERROR_SMALL_BUFFER, plughost_scan(started.s, Utf8(Samples()).c_str(), nullptr, 0, &count, nullptr))
      << started.Error();
  EXPECT_EQ(PLUGHOST_ERROR_NO_SCAN, plughost_filter(started.s, count, &image.image, nullptr, nullptr, nullptr));
  EXPECT_TRUE(image.Untouched());
}

TEST(CApi, ScansIntoAnArrayOfTheCallersSize) {
  Session session;
  ASSERT_EQ(PLUGHOST_OK, session.Open(ServerExe(), Samples())) << session.Error();
  uint32_t all = static_cast<uint32_t>(session.plugins.size());
  ASSERT_GE(all, 3u);
  EXPECT_NE(~0u, session.Index("Invert"));
  std::string folder = Utf8(Samples());
  for (const plughost_plugin& p : session.plugins) {
    EXPECT_EQ(0u, std::string(p.path).find(folder)) << p.path;
    EXPECT_STREQ("PluginMain", p.entry_point);
  }
  // Too small an array: filled as far as it goes, with the count of all.
  plughost_plugin two[2];
  uint32_t count = 0;
  EXPECT_EQ(PLUGHOST_ERROR_SMALL_BUFFER, plughost_scan_entries(session.s, two, 2, &count));
  EXPECT_EQ(all, count);
  EXPECT_EQ(0, memcmp(two, session.plugins.data(), sizeof(two)));
  // A folder without plug-ins is no failure.
  EXPECT_EQ(PLUGHOST_OK, plughost_scan(session.s, Utf8(FreshFolder(L"capi-none")).c_str(), two, 2, &count, nullptr));
  EXPECT_EQ(0u, count);
}

TEST(CApi, FiltersWholeOrInStepsWithProgress) {
  Session session;
  ASSERT_EQ(PLUGHOST_OK, session.Open(ServerExe(), Samples())) << session.Error();
  uint32_t invert = session.Index("Invert");
  TestImage whole(37, 300);
  Progress progress;
  progress.session = session.s;
  plughost_result result;
  ASSERT_EQ(PLUGHOST_OK, plughost_filter(session.s, invert, &whole.image, OnProgress, &progress, &result))
      << session.Error();
  EXPECT_TRUE(whole.Inverted());
  EXPECT_EQ(0, result.plugin_result);
  EXPECT_EQ(0u, result.restarted);
  ASSERT_FALSE(progress.seen.empty());
  for (size_t i = 0; i < progress.seen.size(); ++i) {
    EXPECT_LE(0.0, progress.seen[i]);
    EXPECT_GE(1.0, progress.seen[i]);
    if (i > 0) {
      EXPECT_LE(progress.seen[i - 1], progress.seen[i]);
    }
  }
  EXPECT_EQ(PLUGHOST_ERROR_BUSY, progress.nested);

  TestImage stepped(5, 3);
  ASSERT_EQ(PLUGHOST_OK, plughost_filter_start(session.s, invert, &stepped.image, nullptr));
  plughost_job job{1, 0, 0.0};
  plughost_status status = PLUGHOST_OK;
  while (job.running && status == PLUGHOST_OK) status = plughost_filter_poll(session.s, &job, nullptr);
  ASSERT_EQ(PLUGHOST_OK, status) << session.Error();
  EXPECT_TRUE(stepped.Untouched());  // until fetched
  ASSERT_EQ(PLUGHOST_OK, plughost_fetch(session.s, &stepped.image)) << session.Error();
  EXPECT_TRUE(stepped.Inverted());
  EXPECT_EQ(PLUGHOST_ERROR_NO_JOB, plughost_fetch(session.s, &stepped.image));
}

// What a filter recorded comes back as a settings block, and the next
// filters replay it without their dialog.
TEST(CApi, RecordedSettingsAreFetchedAndReplayed) {
  Session session;
  ASSERT_EQ(PLUGHOST_OK, session.Open(ServerExe(), Samples())) << session.Error();
  uint32_t length = 0;
  EXPECT_EQ(PLUGHOST_ERROR_NO_JOB, plughost_fetch_settings(session.s, nullptr, 0, &length));
  uint32_t invert = session.Index("Invert");
  TestImage first(6, 4);
  ASSERT_EQ(PLUGHOST_OK, plughost_filter(session.s, invert, &first.image, nullptr, nullptr, nullptr)) << session.Error();
  EXPECT_EQ(PLUGHOST_ERROR_SMALL_BUFFER, plughost_fetch_settings(session.s, nullptr, 0, &length));
  ASSERT_GE(length, 32u) << "a settings block's header at least";
  std::vector<uint8_t> settings(length);
  ASSERT_EQ(PLUGHOST_OK, plughost_fetch_settings(session.s, settings.data(), length, &length)) << session.Error();
  EXPECT_EQ(0, memcmp(settings.data(), "PHST", 4));

  EXPECT_EQ(PLUGHOST_ERROR_ARGUMENT, plughost_use_settings(session.s, 4, nullptr, 0));
  ASSERT_EQ(PLUGHOST_OK, plughost_use_settings(session.s, PLUGHOST_MODE_REPLAY, settings.data(), length));
  TestImage replayed(6, 4);
  ASSERT_EQ(PLUGHOST_OK, plughost_filter(session.s, invert, &replayed.image, nullptr, nullptr, nullptr))
      << session.Error();
  EXPECT_TRUE(replayed.Inverted());
  // A block that is not one is refused by the server, and nothing runs.
  settings[0] = 'X';
  ASSERT_EQ(PLUGHOST_OK, plughost_use_settings(session.s, PLUGHOST_MODE_REPLAY, settings.data(), length));
  TestImage refused(6, 4);
  EXPECT_EQ(PLUGHOST_SERVER_BAD_PAYLOAD, plughost_filter(session.s, invert, &refused.image, nullptr, nullptr, nullptr));
  EXPECT_TRUE(refused.Untouched());
}

// An image in shared memory is filtered where it lies, through the same calls.
TEST(CApi, ASharedImageIsFilteredInPlace) {
  Session session;
  ASSERT_EQ(PLUGHOST_OK, session.Open(ServerExe(), Samples())) << session.Error();
  TestImage expected(37, 30);
  plughost_image shared{};
  ASSERT_EQ(PLUGHOST_OK, plughost_shared_image_create(session.s, 37, 30, &shared)) << session.Error();
  memcpy(shared.pixels, expected.pixels.data(), expected.pixels.size());
  const uint8_t* before = shared.pixels;
  ASSERT_EQ(PLUGHOST_OK, plughost_filter(session.s, session.Index("Invert"), &shared, nullptr, nullptr, nullptr))
      << session.Error();
  EXPECT_EQ(before, shared.pixels);
  memcpy(expected.pixels.data(), shared.pixels, expected.pixels.size());
  EXPECT_TRUE(expected.Inverted());
  plughost_shared_image_free(session.s, &shared);
  EXPECT_EQ(nullptr, shared.pixels);
}

TEST(CApi, AFilterIsCancelledFromItsCallbackOrAnotherThread) {
  for (bool fromThread : {false, true}) {
    SCOPED_TRACE(fromThread ? "plughost_cancel from another thread" : "the callback answers cancel");
    // Runs until asked to stop; a server that cannot be asked is ended. The
    // server reads its environment when it starts.
    SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", L"abort-wait");
    Session session;
    ASSERT_EQ(PLUGHOST_OK, session.Open(ServerExe(), Samples())) << session.Error();
    TestImage image(8, 8);
    Progress progress;
    progress.session = session.s;
    progress.cancelAt = fromThread ? -1 : 0;
    progress.firstCall = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread canceller([&] {
      if (fromThread && WaitForSingleObject(progress.firstCall, 60000) == WAIT_OBJECT_0) plughost_cancel(session.s);
    });
    plughost_result result;
    plughost_status status =
        plughost_filter(session.s, session.Index("Trouble"), &image.image, OnProgress, &progress, &result);
    canceller.join();
    CloseHandle(progress.firstCall);
    SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", nullptr);
    EXPECT_EQ(PLUGHOST_CANCELLED, status) << session.Error();
    EXPECT_TRUE(image.Untouched());
    // The session goes on, on the same server or a new one.
    TestImage next(3, 3);
    EXPECT_EQ(PLUGHOST_OK, plughost_filter(session.s, session.Index("Invert"), &next.image, nullptr, nullptr, nullptr))
        << session.Error();
    EXPECT_TRUE(next.Inverted());
  }
}

TEST(CApi, AServerAPluginEndedIsStartedAgainWithTheHostAndTheScan) {
  // Its own folder, which the test can change while the server is down.
  std::wstring folder = FreshFolder(L"capi-restart");
  ASSERT_TRUE(CopyFileW((Samples() + L"\\Trouble.8bf").c_str(), (folder + L"\\Trouble.8bf").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW((Samples() + L"\\Invert.8bf").c_str(), (folder + L"\\Invert.8bf").c_str(), FALSE));
  // The server reads its environment when it starts, the next one without this.
  SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", L"exit-continue");
  Session session;
  ASSERT_EQ(PLUGHOST_OK, session.Open(ServerExe(), folder)) << session.Error();
  TestImage image(6, 6);
  plughost_result result;
  plughost_status status = plughost_filter(session.s, session.Index("Trouble"), &image.image, nullptr, nullptr, &result);
  SetEnvironmentVariableW(L"PLUGHOST_TROUBLE", nullptr);
  EXPECT_EQ(PLUGHOST_ERROR_LOST, status);
  EXPECT_NE(std::string::npos, session.Error().find("exit code 42")) << session.Error();
  EXPECT_EQ(0u, plughost_server_process_id(session.s));
  // The next call needs a server, a host window and the scan: it gets all three.
  ASSERT_EQ(PLUGHOST_OK, plughost_filter(session.s, session.Index("Invert"), &image.image, nullptr, nullptr, &result))
      << session.Error();
  EXPECT_TRUE(image.Inverted());
  EXPECT_EQ(1u, result.restarted);
  EXPECT_EQ(42u, result.ended_exit_code);
  EXPECT_EQ(1u, plughost_restart_count(session.s));

  // A server ended from outside, and a folder that lists more meanwhile:
  // the indices of the last scan no longer hold.
  HANDLE server = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, plughost_server_process_id(session.s));
  ASSERT_NE(nullptr, server);
  TerminateProcess(server, 9);
  WaitForSingleObject(server, 20000);
  CloseHandle(server);
  ASSERT_TRUE(CopyFileW((Samples() + L"\\Blur.8bf").c_str(), (folder + L"\\Blur.8bf").c_str(), FALSE));
  TestImage again(2, 2);
  EXPECT_EQ(PLUGHOST_ERROR_SCAN_CHANGED,
            plughost_filter(session.s, session.Index("Invert"), &again.image, nullptr, nullptr, &result));
  EXPECT_EQ(1u, result.restarted);
  EXPECT_EQ(9u, result.ended_exit_code);
  EXPECT_TRUE(again.Untouched());
  plughost_plugin now[4];
  uint32_t count = 0;
  EXPECT_EQ(PLUGHOST_OK, plughost_scan_entries(session.s, now, 4, &count));
  EXPECT_EQ(3u, count);
}

TEST(CApi, AServerIsSentOnlyTheKindsItServes) {
  struct Row {
    const wchar_t* asked;  // null: a server of protocol 1
    uint32_t protocol;
    size_t aborts;  // REQ_FILTER_ABORT sent on cancel
  } rows[] = {{nullptr, 1, 0}, {L"plughost-capi-asked", 2, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.protocol);
    HANDLE asked = r.asked != nullptr ? CreateEventW(nullptr, TRUE, FALSE, r.asked) : nullptr;
    FakeServer fake("cancel", r.asked);
    std::wstring folder = FreshFolder(L"capi-fake-plugins");
    Session session;
    ASSERT_EQ(PLUGHOST_OK, session.Open(BesideTest(L"cli_fake_server.exe"), folder)) << session.Error();
    plughost_server_info info{};
    ASSERT_EQ(PLUGHOST_OK, plughost_query_server(session.s, &info));
    EXPECT_EQ(r.protocol, info.protocol_version);
    EXPECT_EQ(r.protocol == 1, (info.served_kinds >> 23 & 1) == 0);
    TestImage image(4, 4);
    Progress progress;
    progress.session = session.s;
    progress.cancelAt = 0;
    EXPECT_EQ(PLUGHOST_CANCELLED,
              plughost_filter(session.s, session.Index("Invert"), &image.image, OnProgress, &progress, nullptr));
    EXPECT_EQ(r.aborts, fake.Count("request 23"));
    EXPECT_EQ(1u, fake.Count("request 24"));  // the question at the start, nothing more
    if (asked != nullptr) CloseHandle(asked);
  }
}

TEST(CApi, AnIdleServerIsAskedBeforeItsTimeRunsOut) {
  const wchar_t* name = L"plughost-capi-keepalive";
  HANDLE asked = CreateEventW(nullptr, TRUE, FALSE, name);
  FakeServer fake("ok", name);
  Session session;
  ASSERT_EQ(PLUGHOST_OK, session.Open(BesideTest(L"cli_fake_server.exe"), FreshFolder(L"capi-idle")))
      << session.Error();
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(asked, 0));  // the question at the start
  ResetEvent(asked);
  plughost_set_keepalive(session.s, 50);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(asked, 30000));
  plughost_set_keepalive(session.s, 0);
  // The questions went between calls, never into one.
  TestImage image(3, 2);
  EXPECT_EQ(PLUGHOST_OK, plughost_filter(session.s, session.Index("Invert"), &image.image, nullptr, nullptr, nullptr))
      << session.Error();
  EXPECT_TRUE(image.Inverted());
  EXPECT_EQ(0u, plughost_restart_count(session.s));
  CloseHandle(asked);
}
