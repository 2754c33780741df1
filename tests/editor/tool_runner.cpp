#include "tests/editor/tool_runner.h"

#include <windows.h>

#include "editor/cli/image_codec.h"
#include "tests/support/server_session.h"

namespace {

struct Drain {
  HANDLE read;
  std::string text;
};

DWORD WINAPI DrainPipe(void* context) {
  auto* d = static_cast<Drain*>(context);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(d->read, buffer, sizeof(buffer), &got, nullptr) && got > 0) d->text.append(buffer, got);
  return 0;
}

std::string WithoutCr(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out.push_back(c);
  return out;
}

}  // namespace

ToolRun RunTool(const std::vector<std::wstring>& args, uint32_t timeoutMs) {
  ToolRun run;
  std::wstring exe = BesideTest(L"plughost-cli.exe");
  std::wstring line = L"\"" + exe + L"\"";
  for (const std::wstring& a : args) line += L" \"" + a + L"\"";
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &sa, 0)) return run;
  if (!CreatePipe(&errRead, &errWrite, &sa, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return run;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si;
  memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = outWrite;
  si.hStdError = errWrite;
  PROCESS_INFORMATION pi;
  BOOL created = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  // Only the child holds the write ends now, so the drains end when it does.
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  Drain out{outRead, {}}, err{errRead, {}};
  if (created) {
    HANDLE threads[2] = {CreateThread(nullptr, 0, DrainPipe, &out, 0, nullptr),
                         CreateThread(nullptr, 0, DrainPipe, &err, 0, nullptr)};
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
      run.finished = true;
      DWORD code = ~0u;
      GetExitCodeProcess(pi.hProcess, &code);
      run.exitCode = code;
    } else {
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, 10000);
    }
    // A server the tool started may still hold the pipes briefly.
    WaitForMultipleObjects(2, threads, TRUE, 30000);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  run.out = WithoutCr(out.text);
  run.err = WithoutCr(err.text);
  return run;
}

std::wstring FreshFolder(const wchar_t* tag) {
  static LONG counter = 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  // Process ids come round again, so a name may be left from an earlier
  // run: only a folder this call created counts as fresh.
  for (;;) {
    std::wstring folder = std::wstring(temp) + L"plughost-cli-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) +
                          L"-" + std::to_wstring(InterlockedIncrement(&counter));
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return folder;
  }
}

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  BOOL ok = bytes.empty() || WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
  return ok && n == bytes.size();
}

std::vector<uint8_t> ReadBytes(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(f, nullptr));
  DWORD n = 0;
  if (!bytes.empty()) ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  bytes.resize(n);
  CloseHandle(f);
  return bytes;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::vector<uint8_t> ModuleHeaderBytes(uint16_t machine, uint32_t peOffset) {
  std::vector<uint8_t> b(peOffset + 64, 0);
  b[0] = 'M';
  b[1] = 'Z';
  memcpy(&b[0x3C], &peOffset, 4);
  memcpy(&b[peOffset], "PE\0\0", 4);
  b[peOffset + 4] = static_cast<uint8_t>(machine);
  b[peOffset + 5] = static_cast<uint8_t>(machine >> 8);
  return b;
}

std::vector<uint8_t> TestImageFile(uint32_t width, uint32_t height, bool png) {
  RasterImage image;
  image.width = width;
  image.height = height;
  image.bgra.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < image.bgra.size(); ++i) image.bgra[i] = static_cast<uint8_t>(i * 7 + i / 4);
  for (size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = static_cast<uint8_t>(128 + i % 100);
  std::vector<uint8_t> bytes;
  std::string error;
  EncodeImage(image, png ? IMAGE_FILE_PNG : IMAGE_FILE_BMP, &bytes, &error);
  return bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
