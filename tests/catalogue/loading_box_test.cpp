// The "8BF Loading Error" boxes as the user sees them. Needs a display: run
// through tests/support/with-display, which also presses Return in each box.
#include <windows.h>

#include <string>

#include "catalogue/module_loader.h"
#include "gtest/gtest.h"
#include "tests/catalogue/catalogue_support.h"
#include "tests/support/display.h"

namespace {

// What the box looked like when it was activated.
struct SeenBox {
  bool seen;
  std::wstring title;
  std::wstring text;
  HWND owner;
};
SeenBox gSeen;
HHOOK gHook;

LRESULT CALLBACK WatchActivation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && !gSeen.seen) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t buffer[512] = {};
    GetWindowTextW(box, buffer, 512);
    gSeen.title = buffer;
    buffer[0] = 0;
    GetDlgItemTextW(box, 0xFFFF, buffer, 512);  // the message box's text control
    gSeen.text = buffer;
    gSeen.owner = GetWindow(box, GW_OWNER);
    gSeen.seen = true;
  }
  return CallNextHookEx(gHook, code, wParam, lParam);
}

struct BoxWatch {
  HWND owner;
  BoxWatch() {
    gSeen = SeenBox{};
    owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                            nullptr);
    gHook = SetWindowsHookExW(WH_CBT, WatchActivation, nullptr, GetCurrentThreadId());
  }
  ~BoxWatch() {
    UnhookWindowsHookEx(gHook);
    DestroyWindow(owner);
  }
};

}  // namespace

TEST(LoadingErrorBox, MissingExportShowsTheEntryPointText) {
  SKIP_UNLESS_ON_PRIVATE_DISPLAY() << "the box needs a display";
  BoxWatch watch;
  PluginEntry entry = MakeEntry(FixturePath(L"plugins\\blur.8bf"), L"Blur", L"NoSuchExport");
  EXPECT_EQ(nullptr, LoadPluginEntryPoint(reinterpret_cast<uintptr_t>(watch.owner), &entry, nullptr));
  ASSERT_TRUE(gSeen.seen) << "expected a message box, got none";
  EXPECT_EQ(L"8BF Loading Error", gSeen.title);
  EXPECT_EQ(L"The entry-point for the plug-in was not found", gSeen.text);
  EXPECT_EQ(watch.owner, gSeen.owner);
}

TEST(LoadingErrorBox, LoadFailureShowsTheSystemText) {
  SKIP_UNLESS_ON_PRIVATE_DISPLAY() << "the box needs a display";
  const std::wstring path = FixturePath(L"broken\\missing_import.8bf");
  // The text the system gives for the same failure, "%1" standing for the file.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE probe = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  DWORD error = GetLastError();
  ASSERT_EQ(nullptr, probe);
  wchar_t system[260] = {};
  ASSERT_NE(0u, FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, system,
                               260, nullptr));
  std::wstring expected = system;
  for (size_t at; (at = expected.find(L"%1")) != std::wstring::npos;) expected.replace(at, 2, L"missing_import.8bf");

  BoxWatch watch;
  PluginEntry entry = MakeEntry(path, L"Broken", L"PluginMain");
  EXPECT_EQ(nullptr, LoadPluginEntryPoint(reinterpret_cast<uintptr_t>(watch.owner), &entry, nullptr));
  ASSERT_TRUE(gSeen.seen) << "expected a message box, got none";
  EXPECT_EQ(L"8BF Loading Error", gSeen.title);
  // The box control may drop the line end the system text carries.
  while (!expected.empty() && (expected.back() == L'\n' || expected.back() == L'\r')) expected.pop_back();
  std::wstring text = gSeen.text;
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  EXPECT_EQ(expected, text);
  EXPECT_EQ(watch.owner, gSeen.owner);
}
