#include "tests/editor/tool_runner.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>

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

struct Feed {
  HANDLE write;
  const std::vector<uint8_t>* bytes;
};

DWORD WINAPI FeedPipe(void* context) {
  auto* f = static_cast<Feed*>(context);
  size_t done = 0;
  while (done < f->bytes->size()) {
    DWORD wrote = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(f->bytes->size() - done, 65536));
    if (!WriteFile(f->write, f->bytes->data() + done, want, &wrote, nullptr) || wrote == 0) break;
    done += wrote;
  }
  CloseHandle(f->write);
  return 0;
}

ToolRun RunTool(const std::vector<std::wstring>& args, uint32_t timeoutMs) {
  return RunToolWithInput(args, {}, timeoutMs);
}

ToolRun RunToolWithInput(const std::vector<std::wstring>& args, const std::vector<uint8_t>& input, uint32_t timeoutMs) {
  ToolRun run;
  bool feeding = !input.empty();
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
  HANDLE inRead = nullptr, inWrite = nullptr;
  if (feeding && CreatePipe(&inRead, &inWrite, &sa, 0)) SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si;
  memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = feeding ? inRead : GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = outWrite;
  si.hStdError = errWrite;
  PROCESS_INFORMATION pi;
  BOOL created = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  // Only the child holds the write ends now, so the drains end when it does.
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (inRead != nullptr) CloseHandle(inRead);
  Drain out{outRead, {}}, err{errRead, {}};
  Feed feed{inWrite, &input};
  HANDLE feeder = nullptr;
  if (created && inWrite != nullptr) feeder = CreateThread(nullptr, 0, FeedPipe, &feed, 0, nullptr);
  else if (inWrite != nullptr) CloseHandle(inWrite);
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
  if (feeder != nullptr) {
    // The write fails once the tool has ended, so the feeder ends too.
    WaitForSingleObject(feeder, 30000);
    CloseHandle(feeder);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  run.out = WithoutCr(out.text);
  run.err = WithoutCr(err.text);
  run.rawOut = out.text;
  run.rawErr = err.text;
  return run;
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

namespace {

void PutBe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t GetBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

// Bit by bit, as the PNG format's reference CRC routine does it.
uint32_t SlowCrc(const uint8_t* bytes, size_t length) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    c ^= bytes[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (c & 1 ? 0xEDB88320u : 0);
  }
  return ~c;
}

void PutChunk(std::vector<uint8_t>* png, const std::string& type, const std::vector<uint8_t>& body) {
  PutBe32(png, static_cast<uint32_t>(body.size()));
  size_t start = png->size();
  png->insert(png->end(), type.begin(), type.end());
  png->insert(png->end(), body.begin(), body.end());
  PutBe32(png, SlowCrc(png->data() + start, png->size() - start));
}

}  // namespace

std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t at = 0;
  do {
    size_t n = std::min<size_t>(data.size() - at, 65535);
    z.push_back(at + n == data.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), data.begin() + static_cast<ptrdiff_t>(at), data.begin() + static_cast<ptrdiff_t>(at + n));
    at += n;
  } while (at < data.size());
  uint32_t a = 1, b = 0;
  for (uint8_t v : data) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(&z, b << 16 | a);
  return z;
}

std::vector<uint8_t> HandMadePng(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType,
                                 const std::vector<uint8_t>& rows, const std::vector<TestChunk>& before,
                                 const std::vector<TestChunk>& after) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBe32(&ihdr, width);
  PutBe32(&ihdr, height);
  ihdr.insert(ihdr.end(), {bitDepth, colourType, 0, 0, 0});
  PutChunk(&png, "IHDR", ihdr);
  for (const TestChunk& c : before) PutChunk(&png, c.type, c.body);
  PutChunk(&png, "IDAT", StoredZlib(rows));
  for (const TestChunk& c : after) PutChunk(&png, c.type, c.body);
  PutChunk(&png, "IEND", {});
  return png;
}

std::vector<TestChunk> PngChunksChecked(const std::vector<uint8_t>& png) {
  std::vector<TestChunk> chunks;
  if (png.size() < 8 || png[0] != 0x89 || png[1] != 'P') return chunks;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    uint32_t n = GetBe32(&png[at]);
    if (n > png.size() - at - 12) break;
    TestChunk c;
    c.type.assign(reinterpret_cast<const char*>(&png[at + 4]), 4);
    c.body.assign(png.begin() + static_cast<ptrdiff_t>(at + 8), png.begin() + static_cast<ptrdiff_t>(at + 8 + n));
    if (SlowCrc(&png[at + 4], n + 4) != GetBe32(&png[at + 8 + n])) c.type = "BAD!";
    chunks.push_back(c);
    at += 12 + n;
  }
  return chunks;
}

const TestChunk* FindChunk(const std::vector<TestChunk>& chunks, const char* type) {
  for (const TestChunk& c : chunks)
    if (c.type == type) return &c;
  return nullptr;
}

std::vector<uint8_t> TestProfile(const char* space) {
  std::vector<uint8_t> p(132, 0);
  p[3] = 132;  // its size, big-endian
  memcpy(&p[12], "mntr", 4);
  memcpy(&p[16], space, 4);
  memcpy(&p[20], "XYZ ", 4);
  memcpy(&p[36], "acsp", 4);
  for (size_t i = 100; i < 128; ++i) p[i] = static_cast<uint8_t>(i);  // something to compare
  return p;
}

std::wstring UnixPath(const std::wstring& windowsPath) {
  typedef char* (CDECL * ToUnix)(const wchar_t*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return L"";
  char* unix = toUnix(windowsPath.c_str());
  if (unix == nullptr) return L"";
  std::wstring path;
  for (const char* c = unix; *c != 0; ++c) path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

void ExpectOneErrorLine(const ToolRun& run, const char* fragment, CallerLine caller) {
  TRACE_CALLER(caller);
  std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(1u, lines.size()) << "stderr was:\n" << run.err;
  EXPECT_NE(std::string::npos, lines[0].find(fragment)) << "expected \"" << fragment << "\" in: " << lines[0];
}

RasterImage DecodedBytes(const std::vector<uint8_t>& bytes, CallerLine caller) {
  TRACE_CALLER(caller);
  RasterImage image;
  std::string error;
  EXPECT_EQ(1, DecodeImage(bytes.data(), bytes.size(), &image, &error)) << error;
  return image;
}

RasterImage Decoded(const std::wstring& path, CallerLine caller) { return DecodedBytes(ReadBytes(path), caller); }
