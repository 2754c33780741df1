// A window of the editor's side that is never shown, answering its messages
// on a thread of its own. The server makes the editor's window the owner of
// plug-in dialogs, and an owner in another process must keep answering
// messages or those dialogs stall; an editor without a window of its own (a
// tool, a script, a service) takes this one.
#pragma once
#include <atomic>
#include <cstdint>

struct PlughostHiddenWindow {
  void* window;  // the HWND; null until opened
  void* thread;
  int messageOnly;        // no display: a message-only window stands in, and nothing can be shown
  std::atomic<long> disabled;  // how often a modal box owned by it has disabled it
};

// Answers 0 when no window of either kind could be made.
int PlughostOpenHiddenWindow(PlughostHiddenWindow* hidden);
void PlughostCloseHiddenWindow(PlughostHiddenWindow* hidden);
// The handle as the wire carries it: window handles have 32 significant bits.
inline uint32_t PlughostWireWindow(const void* window) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}
