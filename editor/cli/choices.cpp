#include "editor/cli/choices.h"

#include <cmath>
#include <cstdio>

static wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

static bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// The one plug-in among `found` (indices of names that match), by processor.
static int64_t ChooseAmong(const std::vector<ListedPlugin>& plugins, const std::vector<int64_t>& found,
                           std::vector<int64_t>* matches) {
  for (int bits : {64, 32}) {
    std::vector<int64_t> same;
    for (int64_t i : found)
      if (plugins[static_cast<size_t>(i)].bits == bits) same.push_back(i);
    if (same.size() == 1) return same[0];
    if (same.size() > 1) {
      if (matches != nullptr) *matches = found;
      return PLUGIN_AMBIGUOUS;
    }
  }
  // A processor the tool does not know: only a single match is a choice.
  if (found.size() == 1) return found[0];
  if (matches != nullptr) *matches = found;
  return PLUGIN_AMBIGUOUS;
}

int64_t ChoosePlugin(const std::vector<ListedPlugin>& plugins, const std::wstring& text,
                     std::vector<int64_t>* matches) {
  if (matches != nullptr) matches->clear();
  for (bool exact : {true, false}) {
    std::vector<int64_t> found;
    for (size_t i = 0; i < plugins.size(); ++i)
      if (exact ? plugins[i].name == text : EqualNoCase(plugins[i].name, text)) found.push_back(static_cast<int64_t>(i));
    if (!found.empty()) return ChooseAmong(plugins, found, matches);
  }
  if (text.empty() || text.size() > 9) return PLUGIN_NOT_FOUND;
  int64_t index = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return PLUGIN_NOT_FOUND;
    index = index * 10 + (c - L'0');
  }
  return index < static_cast<int64_t>(plugins.size()) ? index : PLUGIN_NOT_FOUND;
}

static std::wstring Extension(const std::wstring& path) {
  size_t dot = path.find_last_of(L'.');
  size_t sep = path.find_last_of(L"\\/");
  if (dot == std::wstring::npos || (sep != std::wstring::npos && dot < sep)) return L"";
  std::wstring e = path.substr(dot);
  for (wchar_t& c : e) c = LowerAscii(c);
  return e;
}

ImageFileType ImageTypeForPath(const std::wstring& path) {
  std::wstring e = Extension(path);
  if (e == L".png") return IMAGE_FILE_PNG;
  if (e == L".bmp") return IMAGE_FILE_BMP;
  return IMAGE_FILE_UNKNOWN;
}

std::wstring BatchOutputPath(const std::wstring& outputFolder, const std::wstring& input) {
  size_t sep = input.find_last_of(L"\\/");
  std::wstring name = sep == std::wstring::npos ? input : input.substr(sep + 1);
  if (ImageTypeForPath(name) == IMAGE_FILE_UNKNOWN) {
    std::wstring e = Extension(name);
    name = name.substr(0, name.size() - e.size()) + L".png";
  }
  // Joined as the user wrote the folder: "/tmp/out" (a Linux path under
  // Wine) takes a slash, "C:\\out" a backslash.
  std::wstring folder = outputFolder;
  bool slashes = folder.find(L'/') != std::wstring::npos && folder.find(L'\\') == std::wstring::npos;
  wchar_t separator = slashes ? L'/' : L'\\';
  while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) {
    separator = folder.back();
    folder.pop_back();
  }
  if (folder.size() == 1 && (folder[0] == L'/' || folder[0] == L'\\')) return folder + name;
  return folder + separator + name;
}

std::wstring ParentFolder(const std::wstring& path) {
  size_t sep = path.find_last_of(L"\\/");
  if (sep == std::wstring::npos) return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : L"";
  // The root keeps its separator: "C:\\", "/".
  if (sep == 0 || (sep == 2 && path[1] == L':')) return path.substr(0, sep + 1);
  return path.substr(0, sep);
}

int ProgressPercent(double progress) {
  if (!(progress > 0.0)) return 0;  // also NaN
  if (progress >= 1.0) return 100;
  return static_cast<int>(std::floor(progress * 100.0));
}

std::string ProgressBarText(double progress, int width) {
  if (width < 1) width = 1;
  int percent = ProgressPercent(progress);
  int filled = percent * width / 100;
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '-');
  char tail[16];
  snprintf(tail, sizeof(tail), "] %3d%%", percent);
  return bar + tail;
}
