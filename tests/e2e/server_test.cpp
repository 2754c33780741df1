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

TEST(RequestLoop, SetHostAcceptsShortAndLongPayloads) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  Catalogue catalogue;
  ASSERT_EQ(ST_OK, Scan(s, SamplesFolder(), &catalogue));
  const int invert = catalogue.Find(L"Invert");
  TestImage image = TestImage::Pattern(2, 2);
  JobStatusRecord r;
  // Bytes past the twelfth are not the server's to take, however they look.
  uint8_t twenty[20];
  memset(twenty, 0xEE, sizeof(twenty));
  HostSettings host{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow())), 0, 0};
  memcpy(twenty, &host, sizeof(host));
  EXPECT_EQ(ST_OK, s.Request(REQ_SET_HOST, 0, twenty, sizeof(twenty)));
  ASSERT_EQ(ST_OK, StartFilter(s, invert, image));
  EXPECT_EQ(ST_OK, PollUntilDone(s, REQ_FILTER_POLL, &r));
  EXPECT_EQ(ST_OK, Fetch(s, nullptr));
  // A short payload still clears the window set before: nothing may start.
  uint8_t two[2] = {1, 0};
  EXPECT_EQ(ST_BAD_PAYLOAD, s.Request(REQ_SET_HOST, 0, two, sizeof(two)));
  EXPECT_EQ(ST_NOT_READY, StartFilter(s, invert, image));
  EXPECT_EQ(ST_OK, SetHost(s));
  EXPECT_EQ(ST_BAD_PAYLOAD, s.Request(REQ_SET_HOST, 0, nullptr, 0));
  EXPECT_EQ(ST_NOT_READY, StartFilter(s, invert, image));
  uint8_t eight[8] = {0x34, 0x12, 0, 0, 0xFF, 0, 0, 0};
  EXPECT_EQ(ST_OK, s.Request(REQ_SET_HOST, 0, eight, sizeof(eight)));
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

// An image fetched into two places: the header and the editor's own pixels.
// A reply of another length arrives as usual.
TEST(ClientLibrary, ImageFetchedIntoTheEditorsBuffers) {
  ServerSession s;
  ASSERT_TRUE(s.started);
  Catalogue catalogue;
  SetHost(s);
  ASSERT_EQ(ST_OK, Scan(s, SamplesFolder(), &catalogue));
  TestImage image = TestImage::Pattern(3, 5);
  const uint32_t pixelBytes = static_cast<uint32_t>(image.pixels.size());
  PlughostReply reply;
  ASSERT_EQ(ST_OK, StartFilter(s, catalogue.Find(L"Invert"), image));
  JobStatusRecord r;
  ASSERT_EQ(ST_OK, PollUntilDone(s, REQ_FILTER_POLL, &r));
  ImageBlockHeader back{};
  std::vector<uint8_t> pixels(pixelBytes);
  ASSERT_TRUE(PlughostSend(&s.client, REQ_FETCH_IMAGE, 0, nullptr, 0));
  ASSERT_TRUE(PlughostReceiveInto(&s.client, &reply, &back, sizeof(back), pixels.data(), pixelBytes));
  EXPECT_EQ(ST_OK, reply.header.argument);
  EXPECT_EQ(nullptr, reply.payload);
  EXPECT_EQ(sizeof(back) + pixelBytes, reply.length);
  EXPECT_EQ(3u, back.width);
  EXPECT_EQ(5u, back.height);
  EXPECT_EQ(255 - image.pixels[0], pixels[0]);
  EXPECT_EQ(image.pixels.back(), pixels.back());
  // A start without an image: a reply without payload.
  ASSERT_TRUE(PlughostSend(&s.client, REQ_FILTER_START, catalogue.Find(L"Invert"), nullptr, 0));
  ASSERT_TRUE(PlughostReceiveInto(&s.client, &reply, &back, sizeof(back), pixels.data(), pixelBytes));
  EXPECT_EQ(ST_BAD_PAYLOAD, reply.header.argument);
  EXPECT_EQ(0u, reply.length);
  // A catalogue: a payload of another length, received whole.
  std::wstring folder = SamplesFolder();
  ASSERT_TRUE(PlughostSend(&s.client, REQ_SCAN_FOLDER, 0, folder.c_str(), static_cast<uint32_t>(folder.size() * 2)));
  ASSERT_TRUE(PlughostReceiveInto(&s.client, &reply, &back, sizeof(back), pixels.data(), pixelBytes));
  ASSERT_NE(nullptr, reply.payload);
  EXPECT_EQ(sizeof(CatalogueReplyHeader) + catalogue.entries.size() * sizeof(PluginEntry), reply.length);
  PlughostFreeReply(&reply);
  EXPECT_EQ(0u, s.Quit());
}
