// The real server program on a real pipe.
#include <windows.h>

#include <cstring>
#include <vector>

#include "gtest/gtest.h"
#include "server/process_entry.h"
#include "tests/support/conversation.h"
#include "tests/support/server_session.h"

TEST(ServerProcess, QuitGetsNoReplyAndExitsZero) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  ASSERT_TRUE(PlughostQuit(&s.client));
  // Nothing comes back: the next read finds the pipe closed.
  PlughostReply reply;
  s.client.replyTimeoutMs = 20000;
  EXPECT_EQ(0, PlughostReceive(&s.client, &reply));
  uint32_t code = ~0u;
  ASSERT_TRUE(PlughostWaitExit(&s.client, 20000, &code));
  EXPECT_EQ(static_cast<uint32_t>(EXIT_SERVED), code);
}

TEST(ServerProcess, ClosedPipeEndsTheServerWithZero) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  EXPECT_EQ(static_cast<uint32_t>(EXIT_SERVED), s.CloseAndWait());
}

TEST(ServerProcess, MissingPipeExits37) {
  EXPECT_EQ(static_cast<uint32_t>(EXIT_PIPE_NOT_OPENED), RunServerWithCommandLine(L" no-such-pipe-plughost"));
}

TEST(ServerProcess, EmptyOrBlankCommandLineExits37) {
  EXPECT_EQ(static_cast<uint32_t>(EXIT_PIPE_NOT_OPENED), RunServerWithCommandLine(L""));
  EXPECT_EQ(static_cast<uint32_t>(EXIT_PIPE_NOT_OPENED), RunServerWithCommandLine(L" \"\"  \" "));
}

TEST(ServerProcess, QuotedPipeNameWithLineEndConnects) {
  PlughostClient client;
  ASSERT_TRUE(PlughostCreatePipe(&client, nullptr));
  std::wstring line = L"\"" + std::wstring(client.pipeName) + L"\"\r\n";
  ASSERT_TRUE(PlughostLaunch(&client, ServerExe().c_str(), line.c_str()));
  PlughostQuit(&client);
  uint32_t code = ~0u;
  EXPECT_TRUE(PlughostWaitExit(&client, 20000, &code));
  EXPECT_EQ(0u, code);
  PlughostClose(&client);
}

TEST(RequestLoop, UnknownKindWithPayloadGetsAnEmptyOkReply) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::vector<uint8_t> payload{0xEE};
  uint32_t kind = 0;
  EXPECT_EQ(ST_OK, s.Request(5, 0, ten, sizeof(ten), &payload, &kind));
  EXPECT_EQ(0x40000005u, kind);
  EXPECT_TRUE(payload.empty());
  // The loop goes on.
  EXPECT_EQ(ST_OK, s.Request(0x7FFFFFFF, -1, nullptr, 0, nullptr, &kind));
  EXPECT_EQ(0x7FFFFFFFu | REPLY_FLAG, kind);
  EXPECT_EQ(0u, s.Quit());
}

TEST(RequestLoop, ReplyHeaderCarriesOnlyKindStatusAndLength) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  MessageHeader header;
  memset(&header, 0xAB, sizeof(header));  // junk in every field the server must not echo
  header.kind = 9;
  header.payloadLength = 0;
  ASSERT_TRUE(PlughostSendRaw(&s.client, &header, sizeof(header)));
  PlughostReply reply;
  ASSERT_TRUE(PlughostReceive(&s.client, &reply));
  EXPECT_EQ(9u | REPLY_FLAG, reply.header.kind);
  EXPECT_EQ(0u, reply.header.zero0);
  EXPECT_EQ(ST_OK, reply.header.argument);
  for (uint8_t b : reply.header.zero1) EXPECT_EQ(0, b);
  EXPECT_EQ(0u, reply.header.payloadLength);
  PlughostFreeReply(&reply);
  EXPECT_EQ(0u, s.Quit());
}

TEST(RequestLoop, PipeClosedMidPayloadEndsTheLoopQuietly) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  MessageHeader header{};
  header.kind = 5;
  header.payloadLength = 1000;
  ASSERT_TRUE(PlughostSendRaw(&s.client, &header, sizeof(header)));
  ASSERT_TRUE(PlughostSendRaw(&s.client, "half", 4));
  EXPECT_EQ(0u, s.CloseAndWait());
}
