// Tests that wait for the server's real time limits.
#include <windows.h>

#include <string>

#include "editor/plughost.h"
#include "gtest/gtest.h"
#include "tests/support/server_session.h"

// Waits for the real 60-second read limit: labelled slow, runs in parallel.
TEST(SlowRequestLoop, PayloadThatNeverComesEndsTheLoopAfterTheReadLimit) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  MessageHeader header{};
  header.kind = 5;
  header.payloadLength = 64;
  ASSERT_TRUE(PlughostSendRaw(&s.client, &header, sizeof(header)));
  DWORD start = GetTickCount();
  uint32_t code = ~0u;
  ASSERT_TRUE(PlughostWaitExit(&s.client, 90000, &code));
  DWORD took = GetTickCount() - start;
  EXPECT_EQ(0u, code);
  EXPECT_GE(took, 59000u);
  EXPECT_LT(took, 75000u);
}

// A session left idle without its keep-alive: the server ends at its read
// limit, and the next call starts it again with the host and the scan.
TEST(SlowSession, AServerThatReachedItsIdleLimitIsStartedAgain) {
  char server[MAX_PATH * 3], samples[MAX_PATH * 3];
  WideCharToMultiByte(CP_UTF8, 0, ServerExe().c_str(), -1, server, sizeof(server), nullptr, nullptr);
  WideCharToMultiByte(CP_UTF8, 0, BesideTest(L"samples").c_str(), -1, samples, sizeof(samples), nullptr, nullptr);
  plughost_session* s = plughost_session_create();
  plughost_set_keepalive(s, 0);
  uint64_t window = 0;
  plughost_plugin plugins[16];
  uint32_t count = 0, invert = ~0u;
  ASSERT_EQ(PLUGHOST_OK, plughost_start(s, server)) << plughost_last_error_text(s);
  ASSERT_EQ(PLUGHOST_OK, plughost_hidden_window(s, &window));
  ASSERT_EQ(PLUGHOST_OK, plughost_set_host(s, window, 0, 0xFFFFFF));
  ASSERT_EQ(PLUGHOST_OK, plughost_scan(s, samples, plugins, 16, &count, nullptr)) << plughost_last_error_text(s);
  for (uint32_t i = 0; i < count; ++i)
    if (std::string(plugins[i].name) == "Invert") invert = i;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, plughost_server_process_id(s));
  ASSERT_NE(nullptr, process);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 120000));
  CloseHandle(process);
  uint8_t pixels[4] = {10, 20, 30, 255};
  plughost_image image{1, 1, 72, 72, pixels};
  plughost_result result;
  EXPECT_EQ(PLUGHOST_OK, plughost_filter(s, invert, &image, nullptr, nullptr, &result)) << plughost_last_error_text(s);
  EXPECT_EQ(245, pixels[0]);
  EXPECT_EQ(1u, result.restarted);
  EXPECT_EQ(0u, result.ended_exit_code);
  plughost_session_destroy(s);
}
