#include "tests/support/conversation.h"

#include <windows.h>

#include <cmath>
#include <cstring>

TestImage TestImage::Pattern(uint32_t w, uint32_t h) {
  TestImage image;
  image.width = w;
  image.height = h;
  image.pixels.resize(static_cast<size_t>(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = image.At(x, y);
      p[0] = static_cast<uint8_t>(x * 7 + y * 3);
      p[1] = static_cast<uint8_t>(x * 5 + y * 11 + 1);
      p[2] = static_cast<uint8_t>(x * 13 + y * 2 + 2);
      p[3] = static_cast<uint8_t>(x + y * 17 + 3);
    }
  return image;
}

std::vector<uint8_t> TestImage::Block() const {
  std::vector<uint8_t> block(IMAGE_HEADER_BYTES + pixels.size());
  ImageBlockHeader header{width, height, hres, vres};
  memcpy(block.data(), &header, sizeof(header));
  if (!pixels.empty()) memcpy(block.data() + IMAGE_HEADER_BYTES, pixels.data(), pixels.size());
  return block;
}

bool TestImage::FromBlock(const std::vector<uint8_t>& block) {
  if (block.size() < IMAGE_HEADER_BYTES) return false;
  ImageBlockHeader header;
  memcpy(&header, block.data(), sizeof(header));
  width = header.width;
  height = header.height;
  hres = header.horizontalResolution;
  vres = header.verticalResolution;
  pixels.assign(block.begin() + IMAGE_HEADER_BYTES, block.end());
  return pixels.size() == static_cast<size_t>(width) * height * 4;
}

int Catalogue::Find(const wchar_t* name) const {
  for (size_t i = 0; i < entries.size(); ++i)
    if (wcscmp(entries[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

std::wstring SamplesFolder() { return BesideTest(L"samples"); }

int64_t SetHost(ServerSession& s, uint32_t foreground, uint32_t background) {
  HostSettings host{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow())), foreground, background};
  return s.Request(REQ_SET_HOST, 0, &host, sizeof(host));
}

int64_t Scan(ServerSession& s, const std::wstring& folder, Catalogue* out) {
  std::vector<uint8_t> reply;
  int64_t status = s.Request(REQ_SCAN_FOLDER, 0, folder.c_str(), static_cast<uint32_t>(folder.size() * 2), &reply);
  if (out != nullptr && reply.size() >= sizeof(CatalogueReplyHeader)) {
    CatalogueReplyHeader header;
    memcpy(&header, reply.data(), sizeof(header));
    out->buildFlag = header.buildFlag;
    out->entries.resize(header.count);
    if (reply.size() >= sizeof(header) + header.count * sizeof(PluginEntry) && header.count > 0)
      memcpy(out->entries.data(), reply.data() + sizeof(header), header.count * sizeof(PluginEntry));
  }
  return status;
}

int64_t StartFilter(ServerSession& s, int64_t index, const TestImage& image) {
  std::vector<uint8_t> block = image.Block();
  return s.Request(REQ_FILTER_START, index, block.data(), static_cast<uint32_t>(block.size()));
}

int64_t StartFilterEx(ServerSession& s, int64_t index, uint32_t mode, const std::string& settings,
                      const TestImage& image) {
  std::vector<uint8_t> block = image.Block();
  int64_t status = -1;
  if (!PlughostFilterStartEx(&s.client, index, mode, settings.data(), static_cast<uint32_t>(settings.size()),
                             block.data(), static_cast<uint32_t>(block.size()), &status))
    return -1;
  return status;
}

int64_t FetchSettings(ServerSession& s, RecordedSettings* out) {
  std::vector<uint8_t> reply;
  int64_t status = s.Request(REQ_FETCH_SETTINGS, 0, nullptr, 0, &reply);
  if (status != ST_OK || out == nullptr) return status;
  SettingsView view;
  if (ParseSettingsBlock(reply.data(), reply.size(), &view) != SETTINGS_OK) return -2;
  *out = SettingsFromView(view);
  return status;
}

int64_t Poll(ServerSession& s, uint32_t pollKind, JobStatusRecord* out, int64_t argument) {
  JobStatusRecord request;
  memset(&request, 0x5C, sizeof(request));  // sentinels: what the server does not set comes back
  std::vector<uint8_t> reply;
  int64_t status = s.Request(pollKind, argument, &request, sizeof(request), &reply);
  if (reply.size() == sizeof(JobStatusRecord)) memcpy(out, reply.data(), sizeof(*out));
  else memset(out, 0, sizeof(*out));
  return status;
}

int64_t PollUntilDone(ServerSession& s, uint32_t pollKind, JobStatusRecord* last, std::vector<JobStatusRecord>* seen) {
  for (int i = 0; i < 600000; ++i) {
    int64_t status = Poll(s, pollKind, last);
    if (seen != nullptr) seen->push_back(*last);
    if (status != ST_OK || last->state != JOB_RUNNING) return status;
    // The job runs on; a yield keeps the polls from starving a one-core machine.
    Sleep(1);
  }
  return -1;
}

int64_t Fetch(ServerSession& s, TestImage* out) {
  std::vector<uint8_t> reply;
  int64_t status = s.Request(REQ_FETCH_IMAGE, 0, nullptr, 0, &reply);
  if (out != nullptr) out->FromBlock(reply);
  return status;
}

Rendezvous::Rendezvous() {
  wchar_t name[64];
  _snwprintf(name, 63, L"plughost-ready-%lu-%lu", GetCurrentProcessId(), GetTickCount());
  name[63] = 0;
  ready = CreateEventW(nullptr, TRUE, FALSE, name);
  SetTestEnvironment(L"PLUGHOST_TROUBLE_READY", name);
  _snwprintf(name, 63, L"plughost-go-%lu-%lu", GetCurrentProcessId(), GetTickCount());
  go = CreateEventW(nullptr, TRUE, FALSE, name);
  SetTestEnvironment(L"PLUGHOST_TROUBLE_GO", name);
}

Rendezvous::~Rendezvous() {
  Go();
  CloseHandle(ready);
  CloseHandle(go);
}

bool Rendezvous::WaitReady(uint32_t ms) { return WaitForSingleObject(ready, ms) == WAIT_OBJECT_0; }
void Rendezvous::Go() { SetEvent(go); }

uint8_t PosterizeReference(uint8_t value, int levels) {
  const int steps = levels - 1;
  const long k = lround(value * steps / 255.0);
  return static_cast<uint8_t>(lround(k * 255.0 / steps));
}

void SetTestEnvironment(const wchar_t* name, const wchar_t* value) { SetEnvironmentVariableW(name, value); }
