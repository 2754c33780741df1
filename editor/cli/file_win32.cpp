#include "editor/cli/file_win32.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>

#include "editor/cli/json_text.h"

bool FolderExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string SystemErrorText(uint32_t code) {
  wchar_t text[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512,
                           nullptr);
  if (n == 0) return "Windows error " + std::to_string(code);
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ' || text[n - 1] == L'.')) --n;
  text[n] = 0;
  return Utf16ToUtf8(text);
}

int ReadWholeFile(const std::wstring& path, uint64_t limit, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    *error = SystemErrorText(GetLastError());
    return 0;
  }
  LARGE_INTEGER size;
  int ok = 0;
  if (!GetFileSizeEx(f, &size)) {
    *error = SystemErrorText(GetLastError());
  } else if (static_cast<uint64_t>(size.QuadPart) > limit) {
    *error = "the file is too large";
  } else {
    try {
      bytes->resize(static_cast<size_t>(size.QuadPart));
      ok = 1;
    } catch (...) {
      *error = "out of memory for the file";
    }
    size_t done = 0;
    while (ok && done < bytes->size()) {
      DWORD want = static_cast<DWORD>(bytes->size() - done > (1u << 30) ? (1u << 30) : bytes->size() - done);
      DWORD got = 0;
      if (!ReadFile(f, bytes->data() + done, want, &got, nullptr) || got == 0) {
        *error = "the file could not be read to its end";
        ok = 0;
      }
      done += got;
    }
  }
  CloseHandle(f);
  if (!ok) bytes->clear();
  return ok;
}

int WriteFileAtomically(const std::wstring& path, const uint8_t* bytes, size_t length, std::string* error) {
  static std::atomic<uint32_t> counter{0};
  std::wstring temporary = path + L".part-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(++counter);
  HANDLE f = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    *error = SystemErrorText(GetLastError());
    return 0;
  }
  bool ok = true;
  size_t done = 0;
  while (ok && done < length) {
    DWORD want = static_cast<DWORD>(length - done > (1u << 30) ? (1u << 30) : length - done);
    DWORD wrote = 0;
    if (!WriteFile(f, bytes + done, want, &wrote, nullptr) || wrote == 0) {
      *error = SystemErrorText(GetLastError());
      ok = false;
    }
    done += wrote;
  }
  if (ok && !FlushFileBuffers(f)) {
    *error = SystemErrorText(GetLastError());
    ok = false;
  }
  CloseHandle(f);
  if (ok && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = SystemErrorText(GetLastError());
    ok = false;
  }
  if (!ok) DeleteFileW(temporary.c_str());
  return ok ? 1 : 0;
}

static HANDLE StandardHandle(StandardStream stream) {
  static const DWORD kHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  return GetStdHandle(kHandles[stream]);
}

bool IsTerminal(StandardStream stream) {
  // Not the C runtime's _isatty: it asks GetFileType, which calls the NUL
  // device a character device as it calls a console one.
  DWORD mode = 0;
  HANDLE h = StandardHandle(stream);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

int ReadStandardInput(uint64_t limit, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  HANDLE in = StandardHandle(STANDARD_INPUT);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) {
    *error = "there is no standard input";
    return 0;
  }
  uint8_t buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer, sizeof(buffer), &got, nullptr)) {
      // The writer closing its end of a pipe is the end of the input.
      DWORD code = GetLastError();
      if (code == ERROR_BROKEN_PIPE) break;
      *error = SystemErrorText(code);
      bytes->clear();
      return 0;
    }
    if (got == 0) break;
    if (bytes->size() + got > limit) {
      *error = "the input is too large";
      bytes->clear();
      return 0;
    }
    try {
      bytes->insert(bytes->end(), buffer, buffer + got);
    } catch (...) {
      *error = "out of memory for the input";
      bytes->clear();
      return 0;
    }
  }
  return 1;
}

int WriteStandardOutput(const uint8_t* bytes, size_t length, std::string* error) {
  HANDLE out = StandardHandle(STANDARD_OUTPUT);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    *error = "there is no standard output";
    return 0;
  }
  size_t done = 0;
  while (done < length) {
    DWORD want = static_cast<DWORD>(length - done > (1u << 20) ? (1u << 20) : length - done);
    DWORD wrote = 0;
    if (!WriteFile(out, bytes + done, want, &wrote, nullptr) || wrote == 0) {
      *error = SystemErrorText(GetLastError());
      return 0;
    }
    done += wrote;
  }
  return 1;
}

int CreateFolderTree(const std::wstring& folder, std::string* error) {
  DWORD n = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  if (n == 0 || (n = GetFullPathNameW(folder.c_str(), n, &full[0], nullptr)) == 0 || n >= full.size()) {
    *error = SystemErrorText(GetLastError());
    return 0;
  }
  full.resize(n);
  // Past the root: "C:\" or "\\server\share\".
  size_t start = 3;
  if (full.size() > 2 && full[0] == L'\\' && full[1] == L'\\') {
    size_t server = full.find(L'\\', 2);
    size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
    start = share == std::wstring::npos ? full.size() : share + 1;
  }
  for (size_t at = start; at <= full.size(); ++at) {
    if (at < full.size() && full[at] != L'\\' && full[at] != L'/') continue;
    std::wstring part = full.substr(0, at);
    if (part.size() <= start || FolderExists(part)) continue;
    if (!CreateDirectoryW(part.c_str(), nullptr) && !FolderExists(part)) {
      *error = SystemErrorText(GetLastError());
      return 0;
    }
  }
  return 1;
}

ModuleMachine ReadFileModuleMachine(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return MACHINE_NOT_A_MODULE;
  uint8_t head[MODULE_HEADER_PROBE_BYTES];
  DWORD got = 0;
  BOOL ok = ReadFile(f, head, sizeof(head), &got, nullptr);
  CloseHandle(f);
  return ok ? ReadModuleMachine(head, got) : MACHINE_NOT_A_MODULE;
}

static bool EndsWith(const wchar_t* name, const wchar_t* extension) {
  size_t n = wcslen(name), e = wcslen(extension);
  return n >= e && _wcsicmp(name + n - e, extension) == 0;
}

// The target of a shell shortcut, when it has a path.
static bool ShortcutTarget(const std::wstring& link, std::wstring* target) {
  IShellLinkW* shellLink = nullptr;
  IPersistFile* file = nullptr;
  wchar_t path[MAX_PATH] = L"";
  bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&shellLink))) &&
            SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Load(link.c_str(), STGM_READ)) &&
            shellLink->GetPath(path, MAX_PATH, nullptr, 0) == S_OK;
  if (file != nullptr) file->Release();
  if (shellLink != nullptr) shellLink->Release();
  if (ok) *target = path;
  return ok;
}

// Plug-in modules are far smaller; a larger file is not read whole just to
// explain why it gave no plug-in.
constexpr uint64_t kJudgedFileLimit = 1ull << 30;

struct Survey {
  ModuleCensus* census;
  std::vector<SurveyedModule>* modules;
  std::vector<std::wstring> walked;  // full paths, lower case
};

static void CountModule(const std::wstring& path, Survey* s) {
  ModuleMachine m = MACHINE_NOT_A_MODULE;
  if (s->modules == nullptr) {
    m = ReadFileModuleMachine(path);
  } else {
    std::vector<uint8_t> bytes;
    std::string error;
    SurveyedModule judged{path, {0, MODULE_UNREADABLE, 0}};
    if (ReadWholeFile(path, kJudgedFileLimit, &bytes, &error)) judged.verdict = JudgeModule(bytes.data(), bytes.size());
    m = ReadModuleMachine(bytes.data(), bytes.size());
    s->modules->push_back(judged);
  }
  if (m == MACHINE_X64) ++s->census->x64;
  else if (m == MACHINE_X86) ++s->census->x86;
  else ++s->census->other;
}

static void SurveyBelow(const std::wstring& folder, Survey* s, int depth) {
  if (depth > 32) return;
  // A shortcut may lead back to a folder being walked, or to one walked before.
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
  std::wstring key = n > 0 && n < MAX_PATH ? full : folder;
  for (wchar_t& c : key) c = static_cast<wchar_t>(towlower(c));
  while (key.size() > 3 && (key.back() == L'\\' || key.back() == L'/')) key.pop_back();
  for (const std::wstring& w : s->walked)
    if (w == key) return;
  s->walked.push_back(key);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    std::wstring path = folder + L"\\" + found.cFileName;
    std::wstring target;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) SurveyBelow(path, s, depth + 1);
    } else if (EndsWith(found.cFileName, L".lnk")) {
      // Only shortcuts to folders count; one to a module is not catalogued.
      if (ShortcutTarget(path, &target) && FolderExists(target)) SurveyBelow(target, s, depth + 1);
    } else if (EndsWith(found.cFileName, L".8bf")) {
      CountModule(path, s);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

void SurveyPluginModules(const std::wstring& folder, ModuleCensus* census, std::vector<SurveyedModule>* modules) {
  *census = ModuleCensus();
  if (modules != nullptr) modules->clear();
  std::wstring base = folder;
  while (base.size() > 3 && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  Survey s{census, modules, {}};
  SurveyBelow(base, &s, 0);
  if (SUCCEEDED(com)) CoUninitialize();
}

void CountPluginModules(const std::wstring& folder, ModuleCensus* census) {
  SurveyPluginModules(folder, census, nullptr);
}
