#include "editor/cli/settings_codec_win32.h"

#include <windows.h>

#include <string>

namespace {

bool Wide(UINT codePage, DWORD flags, const std::string& bytes, std::wstring* wide) {
  wide->clear();
  if (bytes.empty()) return true;
  if (bytes.size() > INT32_MAX / 2) return false;
  const int n = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &(*wide)[0], n) == n;
}

// The code page cannot take a default character with every flag, so the
// answer is checked against a round trip too.
bool Narrow(UINT codePage, const std::wstring& wide, std::string* bytes) {
  bytes->clear();
  if (wide.empty()) return true;
  BOOL usedDefault = FALSE;
  BOOL* defaultFlag = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    defaultFlag);
  if (n <= 0 || usedDefault) return false;
  bytes->resize(static_cast<size_t>(n));
  return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &(*bytes)[0], n, nullptr,
                             defaultFlag) == n &&
         !usedDefault;
}

bool ToPlugin(const std::string& utf8, std::string* bytes) {
  std::wstring wide;
  return Wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, &wide) && Narrow(CP_ACP, wide, bytes);
}

bool FromPlugin(const std::string& bytes, std::string* utf8) {
  std::wstring wide;
  return Wide(CP_ACP, MB_ERR_INVALID_CHARS, bytes, &wide) && Narrow(CP_UTF8, wide, utf8);
}

}  // namespace

const SettingsTextCodec kCodePageSettingsCodec = {ToPlugin, FromPlugin};
