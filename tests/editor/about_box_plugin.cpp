// A plug-in whose About selector shows a message box owned by the host's
// window, as most plug-ins' About boxes are; its filter does nothing. For the
// tool's About test on a virtual display.
#include <windows.h>

#include <cstdint>

namespace {

// The leading fields of the published records this plug-in reads: an
// AboutRecord starts with its PlatformData pointer, which starts with the window.
struct Platform {
  intptr_t hwnd;
};
struct AboutHead {
  Platform* platformData;
};

}  // namespace

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, void* block, intptr_t*, int16_t* result) {
  *result = 0;
  if (selector != 0 || block == nullptr) return;
  Platform* platform = static_cast<AboutHead*>(block)->platformData;
  HWND owner = platform != nullptr ? reinterpret_cast<HWND>(platform->hwnd) : nullptr;
  MessageBoxW(owner, L"About Box: a test plug-in of plughost.", L"About Box", MB_OK);
}
