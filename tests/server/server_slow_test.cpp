// Tests that wait for the server's real time limits.
#include <windows.h>

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
