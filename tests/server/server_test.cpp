// The real server program on a real pipe.
#include <windows.h>
#include <aclapi.h>

#include <cstring>
#include <vector>

#include "gtest/gtest.h"
#include "server/process_entry.h"
#include "tests/support/conversation.h"
#include "tests/support/server_session.h"
#include "tests/support/todo_wine.h"

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

namespace {

std::wstring PipePath(const wchar_t* name) { return std::wstring(L"\\\\.\\pipe\\") + name; }

}  // namespace

TEST(ClientPipe, FreshNamesAreUnguessable) {
  PlughostClient a, b;
  ASSERT_TRUE(PlughostCreatePipe(&a, nullptr));
  ASSERT_TRUE(PlughostCreatePipe(&b, nullptr));
  std::wstring first = a.pipeName, second = b.pipeName;
  PlughostClose(&a);
  PlughostClose(&b);
  EXPECT_NE(first, second);
  // plughost-PID- and 32 hexadecimal digits.
  std::wstring stem = L"plughost-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  ASSERT_EQ(0u, first.find(stem)) << Narrow(first);
  std::wstring random = first.substr(stem.size());
  EXPECT_EQ(32u, random.size()) << Narrow(first);
  EXPECT_EQ(std::wstring::npos, random.find_first_not_of(L"0123456789abcdef")) << Narrow(first);
}

TEST(ClientPipe, ANameSomeoneElseHoldsIsRefused) {
  // A squatter that made the name first, with room for more instances.
  std::wstring name = L"plughost-squat-" + std::to_wstring(GetCurrentProcessId());
  HANDLE squatter = CreateNamedPipeW(PipePath(name.c_str()).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                     PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, squatter);
  PlughostClient client;
  EXPECT_FALSE(PlughostCreatePipe(&client, name.c_str()));
  PlughostClose(&client);
  CloseHandle(squatter);
  // Once it is gone the name is ours.
  ASSERT_TRUE(PlughostCreatePipe(&client, name.c_str()));
  PlughostClose(&client);
}

TEST(ClientPipe, AStrangerConnectingFirstIsCutOffUnheard) {
  PlughostClient client;
  ASSERT_TRUE(PlughostCreatePipe(&client, nullptr));
  // This test process is the stranger: it takes the only instance first.
  HANDLE stranger = CreateFileW(PipePath(client.pipeName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, stranger);
  // It writes a forged reply for the editor to read as the server's.
  MessageHeader forged{};
  forged.kind = REQ_SET_HOST | REPLY_FLAG;
  forged.argument = ST_NO_MEMORY;
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(stranger, &forged, sizeof(forged), &n, nullptr));
  ASSERT_TRUE(PlughostLaunch(&client, ServerExe().c_str(), nullptr));
  ServerSession s(client);
  // The stranger is disconnected: it can neither write nor read any more, and
  // the reply the editor reads is the real server's.
  EXPECT_FALSE(WriteFile(stranger, &forged, sizeof(forged), &n, nullptr));
  uint8_t byte = 0;
  EXPECT_FALSE(ReadFile(stranger, &byte, 1, &n, nullptr));
  CloseHandle(stranger);
  HostSettings host{0x10010, 0, 0xFFFFFF};
  EXPECT_EQ(ST_OK, s.Request(REQ_SET_HOST, 0, &host, sizeof(host)));
  EXPECT_EQ(static_cast<uint32_t>(EXIT_SERVED), s.Quit());
}

TEST(ClientPipe, OnlyOurUserIsOnTheAccessList) {
  PlughostClient client;
  ASSERT_TRUE(PlughostCreatePipe(&client, nullptr));
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD got = GetSecurityInfo(client.pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor);
  PlughostClose(&client);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), got);
  ASSERT_NE(nullptr, dacl);
  ASSERT_EQ(1u, dacl->AceCount);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  uint8_t buffer[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size));
  CloseHandle(token);
  EXPECT_TRUE(EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &ace->SidStart));
  LocalFree(descriptor);
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
