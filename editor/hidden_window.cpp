#include "editor/hidden_window.h"

#include <windows.h>
#include <cstring>

// The module that holds this code, also when it is a DLL.
extern "C" IMAGE_DOS_HEADER __ImageBase;

static const wchar_t kClassName[] = L"PlughostHiddenWindow";

static LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* hidden = reinterpret_cast<PlughostHiddenWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // A modal box (a dialog, a message box) disables its owner while it is up,
  // also from another process: that is how an editor learns that a plug-in
  // showed its About box.
  if (message == WM_ENABLE && wParam == FALSE && hidden != nullptr) ++hidden->disabled;
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

struct PumpStart {
  PlughostHiddenWindow* hidden;
  HANDLE ready;
};

static DWORD WINAPI PumpHiddenWindow(void* parameter) {
  PumpStart* start = static_cast<PumpStart*>(parameter);
  PlughostHiddenWindow* hidden = start->hidden;
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(&__ImageBase);
  WNDCLASSW wc;
  memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = HiddenWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);  // fails harmlessly for every window after the first
  HWND window = CreateWindowExW(0, kClassName, L"plughost", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, hidden);
  // Without a display (headless Wine) no top-level window can be made; a
  // message-only window still gives the server a live handle.
  if (window == nullptr) {
    hidden->messageOnly = 1;
    window = CreateWindowExW(0, kClassName, L"plughost", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, hidden);
  }
  hidden->window = window;
  SetEvent(start->ready);  // the opener's stack holds *start: not touched after this
  if (window == nullptr) return 1;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

int PlughostOpenHiddenWindow(PlughostHiddenWindow* hidden) {
  memset(static_cast<void*>(hidden), 0, sizeof(*hidden));
  PumpStart start{hidden, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  if (start.ready == nullptr) return 0;
  hidden->thread = CreateThread(nullptr, 0, PumpHiddenWindow, &start, 0, nullptr);
  if (hidden->thread != nullptr) WaitForSingleObject(start.ready, INFINITE);
  CloseHandle(start.ready);
  if (hidden->window != nullptr) return 1;
  PlughostCloseHiddenWindow(hidden);
  return 0;
}

void PlughostCloseHiddenWindow(PlughostHiddenWindow* hidden) {
  if (hidden->window != nullptr) PostMessageW(static_cast<HWND>(hidden->window), WM_CLOSE, 0, 0);
  if (hidden->thread != nullptr) {
    WaitForSingleObject(hidden->thread, 10000);
    CloseHandle(hidden->thread);
  }
  hidden->window = nullptr;
  hidden->thread = nullptr;
}
