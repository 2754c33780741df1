#include "tests/catalogue/shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

bool MakeShortcut(const std::wstring& link, const std::wstring& target) {
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* shellLink = nullptr;
  IPersistFile* file = nullptr;
  bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&shellLink))) &&
            SUCCEEDED(shellLink->SetPath(target.c_str())) &&
            SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Save(link.c_str(), TRUE));
  if (file != nullptr) file->Release();
  if (shellLink != nullptr) shellLink->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  return ok;
}
