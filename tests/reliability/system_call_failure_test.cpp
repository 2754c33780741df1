// The system calls the server's work rests on, made to fail by name with an
// error code of the test's choosing, in this process: each failure must end
// where it is reported, carrying that code, and leave nothing half done.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/memory.h"
#include "base/system_calls.h"
#include "catalogue/module_file_win32.h"
#include "catalogue/module_loader.h"
#include "catalogue/plugin_catalog.h"
#include "engine/display_pixels.h"
#include "engine/pixel_buffer.h"
#include "gtest/gtest.h"
#include "sdk/pixel_map.h"
#include "server/loop_state.h"
#include "server/pipe_channel.h"
#include "server/request_loop.h"
#include "tests/catalogue/catalogue_support.h"
#include "tests/support/conversation.h"

namespace {

// Every call of every room is the system's own again when a row ends.
struct Restore {
  ~Restore() { ResetSystemCalls(); }
};

std::wstring Blur() { return FixturePath(L"plugins\\blur.8bf"); }

std::string Expected(const char* what, uint64_t want, uint64_t got) {
  return want == got ? "" : std::string(what) + ": expected " + std::to_string(want) + ", got " + std::to_string(got);
}

// ---- catalogue ----

std::string ModuleRead(uint32_t code) {
  uint8_t* bytes = reinterpret_cast<uint8_t*>(1);
  uint32_t size = 7;
  uint32_t got = ReadModuleFile(Blur().c_str(), &bytes, &size);
  if (bytes != nullptr || size != 0) return "bytes handed out for a file that was not read";
  return Expected("read", code, got);
}

std::string TrialLoad(uint32_t code) { return Expected("trial load", code, TrialLoadModule(Blur().c_str())); }

std::wstring gBoxText;
int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
  gBoxText = text != nullptr ? text : L"";
  return IDOK;
}

// The box gives the system's text for the code, or the code itself where the
// system has no text for it.
std::string EntryPointLoad(uint32_t code) {
  gBoxText.clear();
  SetSystemCall("MessageBoxW", reinterpret_cast<SystemCallProc>(&RecordBox));
  PluginEntry entry = MakeEntry(Blur(), L"Blur", L"PluginMain");
  void* module = reinterpret_cast<void*>(1);
  if (LoadPluginEntryPoint(0, &entry, &module) != nullptr || module != nullptr) return "the module was loaded";
  wchar_t system[260] = {};
  std::wstring want;
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, system, 260,
                     nullptr) != 0) {
    want = system;
    if (gBoxText == want) return "";
  } else {
    want = L"(error " + std::to_wstring(code) + L")";
    if (gBoxText.find(want) != std::wstring::npos && gBoxText.find(L"blur.8bf") != std::wstring::npos) return "";
  }
  return "box said \"" + Narrow(gBoxText) + "\", expected \"" + Narrow(want) + "\"";
}

// ---- server: a job start, on a loop state of the test's own ----

struct StartedLoop {
  LoopState* state = static_cast<LoopState*>(AllocZeroed(sizeof(LoopState)));
  StartedLoop() {
    state->catalogue = static_cast<PluginCatalog*>(AllocZeroed(CatalogueBlockBytes(1)));
    state->catalogue->count = state->catalogue->capacity = 1;
    *CatalogueEntry(state->catalogue, 0) = MakeEntry(Blur(), L"Blur", L"PluginMain");
    state->hostWindow = 1;
    state->reply.argument = ST_OK;
  }
  ~StartedLoop() {
    ReleaseOwnedBlock(&state->requestPayload);
    ReleaseOwnedBlock(&state->replyPayload);
    ReleaseOwnedBlock(&state->image);
    FreeBlock(state->catalogue);
    FreeBlock(state);
  }
  // ST_THREAD_FAILED, no thread held, and a text with the code.
  std::string Refused(const JobSlot& slot, uint32_t code) {
    if (state->reply.argument != ST_THREAD_FAILED) return "status " + std::to_string(state->reply.argument);
    if (slot.thread != nullptr) return "a thread is held";
    const wchar_t* text = reinterpret_cast<const wchar_t*>(state->replyPayload.data);
    if (text == nullptr) return "no text";
    return std::wstring(text).find(L"(error " + std::to_wstring(code) + L")") != std::wstring::npos
               ? ""
               : "text " + Narrow(text);
  }
};

std::string AboutStart(uint32_t code) {
  StartedLoop loop;
  HandleAboutStart(loop.state);
  return loop.Refused(loop.state->about, code);
}

std::string FilterStart(uint32_t code) {
  StartedLoop loop;
  const std::vector<uint8_t> block = TestImage::Pattern(4, 4).Block();
  OwnZeroedBlock(&loop.state->requestPayload, block.size());
  memcpy(loop.state->requestPayload.data, block.data(), block.size());
  loop.state->request.payloadLength = static_cast<uint32_t>(block.size());
  HandleFilterStart(loop.state);
  if (loop.state->image.data != nullptr) return "the image is still held";
  return loop.Refused(loop.state->filter, code);
}

// ---- server: the pipe, with the editor's end made here ----

struct EditorEnd {
  static inline int made = 0;
  std::wstring name = L"syscalls-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++made);
  HANDLE pipe = CreateNamedPipeW((L"\\\\.\\pipe\\" + name).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                 1, 4096, 4096, 0, nullptr);
  ~EditorEnd() { CloseHandle(pipe); }
};

std::string PipeOpen(uint32_t code) {
  EditorEnd editor;
  PipeChannel channel;
  if (PipeConnect(&channel, editor.name.c_str(), 100)) return "connected";
  if (RunServer(editor.name.c_str())) return "the server says it served";
  return Expected("channel's code", code, channel.systemError);
}

// The loop ends, as served, without a reply to the request that was waiting.
std::string ServerEndsWithoutReply() {
  EditorEnd editor;
  bool served = false;
  std::thread server([&] { served = RunServer(editor.name.c_str()); });
  // The server may have come and gone already.
  std::string wrong;
  if (!ConnectNamedPipe(editor.pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED &&
      GetLastError() != ERROR_NO_DATA)
    wrong = "no connection";
  MessageHeader request{};
  request.kind = 5;  // a kind answered with ST_OK
  DWORD n = 0;
  WriteFile(editor.pipe, &request, sizeof(request), &n, nullptr);
  MessageHeader reply{};
  if (wrong.empty() && ReadFile(editor.pipe, &reply, sizeof(reply), &n, nullptr)) wrong = "a reply came";
  server.join();
  if (wrong.empty() && !served) wrong = "the server did not connect";
  return wrong;
}

// The failing transfer keeps the code in the channel; the server's loop ends.
std::string PipeTransfer(uint32_t code, bool writing) {
  EditorEnd editor;
  PipeChannel channel;
  if (!PipeConnect(&channel, editor.name.c_str())) return "no connection";
  uint8_t byte = 0;
  const bool moved = writing ? PipeWrite(&channel, &byte, 1) : PipeRead(&channel, &byte, 1);
  const uint32_t kept = channel.systemError;
  PipeClose(&channel);
  if (moved) return "the transfer went through";
  std::string wrong = Expected("channel's code", code, kept);
  return wrong.empty() ? ServerEndsWithoutReply() : wrong;
}

std::string PipeRead(uint32_t code) { return PipeTransfer(code, false); }
std::string PipeWrite(uint32_t code) { return PipeTransfer(code, true); }

// ---- engine ----

// -108 to the plug-in, whatever the reason; the thread's engine record keeps
// both codes.
std::string DisplayBuffer(uint32_t code) {
  uint32_t pixels[4] = {};
  PSPixelMap map{};
  map.bounds = VRect{0, 0, 2, 2};
  map.imageMode = 3;
  map.rowBytes = 8;
  map.colBytes = 4;
  map.planeBytes = 1;
  map.baseAddr = pixels;
  VRect rect{0, 0, 2, 2};
  HDC dc = CreateCompatibleDC(nullptr);
  const int16_t result = DisplayPixels(&map, &rect, 0, 0, dc);
  DeleteDC(dc);
  if (result != memFullErr) return "answered " + std::to_string(result);
  const uint32_t engine = code == ERROR_NOT_ENOUGH_MEMORY ? ENG_OUT_OF_MEMORY : ENG_GDI_FAILURE;
  std::string wrong = Expected("engine error", engine, EngineLastError());
  return wrong.empty() ? Expected("system error", code, EngineSystemError()) : wrong;
}

int gOpened = 0;
HANDLE WINAPI CountedOpen(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  ++gOpened;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

TEST(SystemCallFailure, EachFailureIsReportedWithItsCode) {
  struct Row {
    const char* call;
    uint32_t code;
    const char* operation;
    std::string (*run)(uint32_t code);
  } rows[] = {
      {"CreateFileW", ERROR_SHARING_VIOLATION, "module read", ModuleRead},
      {"LoadLibraryExW", ERROR_BAD_EXE_FORMAT, "catalogue trial load", TrialLoad},
      {"LoadLibraryExW", ERROR_ACCESS_DENIED, "entry-point load", EntryPointLoad},
      {"LoadLibraryExW", 0x20001234, "entry-point load, a code without a text", EntryPointLoad},
      {"CreateThread", ERROR_NOT_ENOUGH_MEMORY, "About start", AboutStart},
      {"CreateThread", ERROR_MAX_THRDS_REACHED, "Filter start", FilterStart},
      {"CreateDIBSection", ERROR_NOT_ENOUGH_MEMORY, "displayPixels", DisplayBuffer},
      {"CreateDIBSection", ERROR_INVALID_PARAMETER, "displayPixels", DisplayBuffer},
      {"CreateCompatibleDC", ERROR_INVALID_HANDLE, "displayPixels", DisplayBuffer},
      {"CreateFileW", ERROR_ACCESS_DENIED, "pipe connect", PipeOpen},
      {"ReadFile", ERROR_BROKEN_PIPE, "pipe read", PipeRead},
      {"CreateEventW", ERROR_NO_SYSTEM_RESOURCES, "pipe read", PipeRead},
      {"WriteFile", ERROR_NO_DATA, "pipe write", PipeWrite},
  };
  for (const Row& row : rows) {
    Restore restore;
    ASSERT_TRUE(FailSystemCall(row.call, row.code)) << row.call;
    EXPECT_EQ("", row.run(row.code)) << row.call << " failing with " << row.code << " in the " << row.operation;
  }
}

TEST(SystemCalls, ANameChangesInEveryRoomThatListsItAndComesBack) {
  Restore restore;
  gOpened = 0;
  const SystemCallProc standard = GetSystemCall("CreateFileW");
  ASSERT_EQ(reinterpret_cast<SystemCallProc>(&CreateFileW), standard);
  ASSERT_TRUE(SetSystemCall("CreateFileW", reinterpret_cast<SystemCallProc>(&CountedOpen)));
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), ReadModuleFile(Blur().c_str(), &bytes, &size));
  EditorEnd editor;
  PipeChannel channel;
  EXPECT_FALSE(PipeConnect(&channel, editor.name.c_str()));
  EXPECT_EQ(2, gOpened) << "the catalogue's and the server's";

  ASSERT_TRUE(SetSystemCall("CreateFileW", nullptr));
  EXPECT_EQ(standard, GetSystemCall("CreateFileW"));
  EXPECT_EQ(0u, ReadModuleFile(Blur().c_str(), &bytes, &size));
  FreeBlock(bytes);

  // Listed by several rooms, a name still comes once.
  int createFile = 0;
  for (const char* name = NextSystemCall(nullptr); name != nullptr; name = NextSystemCall(name))
    createFile += strcmp(name, "CreateFileW") == 0;
  EXPECT_EQ(1, createFile);

  EXPECT_FALSE(SetSystemCall("NoSuchCall", standard));
  EXPECT_FALSE(FailSystemCall("NoSuchCall", 5));
  EXPECT_EQ(nullptr, GetSystemCall("NoSuchCall"));
}
