// A job's inputs and outcome, shared by the request loop and the job thread.
// The loop writes the inputs before the thread starts and reads the results
// after it has ended; only progressValue is read while the job runs, and
// `wake` is signalled for the request loop's waiting polls.
#pragma once
#include <atomic>
#include <cstdint>

#include "settings/settings_block.h"

struct PluginEntry;
struct JobRecord;

using ImageAccessHook = int32_t (*)(JobRecord* record);
using JobProgressHook = int32_t (*)(JobRecord* record, int32_t done, int32_t total);

struct JobRecord {
  uintptr_t hostWindow;
  JobRecord* self;
  uint32_t resultCode;
  wchar_t message[256];
  uint32_t width;
  uint32_t height;
  uint32_t rowPixels;
  uint8_t* pixels;
  double horizontalResolution;
  double verticalResolution;
  uint32_t foreground;  // 0x00RRGGBB
  uint32_t background;
  ImageAccessHook ImageAccessBegin;
  ImageAccessHook ImageAccessEnd;
  ImageAccessHook ImageAccessCheck;
  JobProgressHook progress;
  PluginEntry* entry;
  std::atomic<double> progressValue;
  std::atomic<uint8_t> abortRequest;
  uint8_t succeeded;
  // Settings in: how the job starts (StartMode) and what it replays, which
  // points into the held request. Out: the settings block the run recorded
  // (a block of AllocZeroed, or null), the loop's once the job has ended.
  uint32_t startMode;
  SettingsView replay;
  uint8_t* recorded;
  uint32_t recordedBytes;
  uint8_t settingsTaken;  // the loop has taken `recorded` over
  // An auto-reset event set when progress has moved a step since the last
  // time it was set (null: nobody waits). Set by the job thread only.
  void* wake;
  double signalledProgress;
};

// The progress step that wakes a waiting poll: one per cent, less a little
// for the rounding of fractions such as 57/100 − 56/100.
constexpr double JOB_WAKE_STEP = 0.01 - 1e-9;

// 1 go on, 0 stop. Stores done / total and lets the request loop run.
int32_t JobProgress(JobRecord* record, int32_t done, int32_t total);
// The held image lives in the server's own memory: access is always granted.
int32_t ImageAccessBegin(JobRecord* record);
int32_t ImageAccessEnd(JobRecord* record);
int32_t ImageAccessCheck(JobRecord* record);
