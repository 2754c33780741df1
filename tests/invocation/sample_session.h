// What the whole-conversation tests share: a server with the samples
// catalogued, a job run to its end, the trouble plug-in's modes and its log.
#pragma once
#include <windows.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/conversation.h"

// A server with host settings and the samples catalogued.
struct SampleSession {
  ServerSession s;
  Catalogue catalogue;
  int64_t scanStatus = -1;
  SampleSession() {
    if (!s.started) return;
    SetHost(s);
    scanStatus = Scan(s, SamplesFolder(), &catalogue);
  }
  int Index(const wchar_t* name) const { return catalogue.Find(name); }
};

// Runs one filter job to its end and fetches the image.
struct Outcome {
  int64_t startStatus = -1, pollStatus = -1, fetchStatus = -1;
  JobStatusRecord last{};
  TestImage image;
};

inline Outcome RunFilter(SampleSession& ss, const wchar_t* plugin, const TestImage& input) {
  Outcome o;
  o.startStatus = StartFilter(ss.s, ss.Index(plugin), input);
  if (o.startStatus != ST_OK) return o;
  o.pollStatus = PollUntilDone(ss.s, REQ_FILTER_POLL, &o.last);
  o.fetchStatus = Fetch(ss.s, &o.image);
  return o;
}

inline std::map<std::string, std::string> ParseReport(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the plug-ins write text mode
    size_t space = line.find(' ');
    if (space != std::string::npos) values[line.substr(0, space)] = line.substr(space + 1);
  }
  return values;
}

// A fresh report the Probe sample writes for servers started while it lives.
struct ProbeReport {
  std::wstring path;
  explicit ProbeReport(const wchar_t* stem) : path(TempFile(stem)) {
    SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", path.c_str());
  }
  ~ProbeReport() {
    SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", nullptr);
    DeleteFileW(path.c_str());
  }
  std::map<std::string, std::string> Values() const { return ParseReport(ReadWholeFile(path)); }
};

// Sets the trouble mode and a fresh selector log for servers started next.
struct TroubleMode {
  std::wstring log = TempFile(L"trouble");
  explicit TroubleMode(const wchar_t* mode) {
    SetTestEnvironment(L"PLUGHOST_TROUBLE", mode);
    SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", log.c_str());
  }
  ~TroubleMode() {
    SetTestEnvironment(L"PLUGHOST_TROUBLE", nullptr);
    SetTestEnvironment(L"PLUGHOST_PROBE_REPORT", nullptr);
    DeleteFileW(log.c_str());
  }
  std::vector<std::string> Selectors() const { return Lines(ReadWholeFile(log)); }
  void Reset() const { DeleteFileW(log.c_str()); }
};

