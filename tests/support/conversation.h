// A whole editor conversation over ServerSession: host settings, scan, jobs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings_block.h"
#include "tests/support/files.h"
#include "tests/support/server_session.h"

struct TestImage {
  uint32_t width = 0, height = 0;
  double hres = 72.0, vres = 72.0;
  std::vector<uint8_t> pixels;  // blue, green, red, alpha

  static TestImage Pattern(uint32_t w, uint32_t h);  // every byte differs from its neighbours
  std::vector<uint8_t> Block() const;                 // the ImageBlock payload
  bool FromBlock(const std::vector<uint8_t>& block);
  uint8_t* At(uint32_t x, uint32_t y) { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
};

struct Catalogue {
  std::vector<PluginEntry> entries;
  uint8_t buildFlag = 0xFF;
  int Find(const wchar_t* name) const;  // index or -1
};

std::wstring SamplesFolder();

int64_t SetHost(ServerSession& s, uint32_t foreground = 0x00FF8000, uint32_t background = 0x00336699);
int64_t Scan(ServerSession& s, const std::wstring& folder, Catalogue* out = nullptr);
int64_t StartFilter(ServerSession& s, int64_t index, const TestImage& image);
// REQ_FILTER_START_EX with a settings block (none when empty).
int64_t StartFilterEx(ServerSession& s, int64_t index, uint32_t mode, const std::string& settings,
                      const TestImage& image);
// REQ_FETCH_SETTINGS; on ST_OK *out holds the parsed block (the status is
// -2 when the reply does not parse).
int64_t FetchSettings(ServerSession& s, RecordedSettings* out);
// Polls until the job is no longer running; the final record is returned.
// Every state seen is appended to `seen` when given.
int64_t PollUntilDone(ServerSession& s, uint32_t pollKind, JobStatusRecord* last,
                      std::vector<JobStatusRecord>* seen = nullptr);
// The argument is REQ_JOB_WAIT's limit in milliseconds.
int64_t Poll(ServerSession& s, uint32_t pollKind, JobStatusRecord* out, int64_t argument = 0);
int64_t Fetch(ServerSession& s, TestImage* out);

// A named event pair the trouble plug-in meets the test at.
struct Rendezvous {
  void* ready = nullptr;
  void* go = nullptr;
  Rendezvous();  // creates both and sets the environment for the server
  ~Rendezvous();
  bool WaitReady(uint32_t ms = 60000);
  void Go();
};

// The Posterize sample's value for one sample, computed independently: the
// nearest of `levels` evenly spaced values.
uint8_t PosterizeReference(uint8_t value, int levels);

// Sets or clears an environment variable for servers started afterwards.
void SetTestEnvironment(const wchar_t* name, const wchar_t* value);
