// A job's inputs and outcome, shared by the request loop and the job thread.
// The loop writes the inputs before the thread starts and reads the results
// after it has ended; only progressValue is read while the job runs, and
// `wake` tells the request loop's waiting polls of its steps and its end.
#pragma once
#include <atomic>
#include <cstdint>

#include "settings/settings_block.h"

struct PluginEntry;
struct JobRecord;

// A count of wake-ups and an end flag behind a slim lock, with a condition
// the waiter sleeps on: the job thread wakes it without a call into the
// system's object server, which under Wine costs tens of microseconds a
// time and queues behind the editor's own requests. All zero is ready for
// use; `lock` and `condition` are an SRWLOCK and a CONDITION_VARIABLE.
struct JobWake {
  void* lock;
  void* condition;
  uint32_t count;
  uint8_t ended;
};

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
  // Signalled by the job thread when progress has moved a step since it was
  // last signalled, and when the job ends.
  JobWake wake;
  double signalledProgress;
};

// The progress step that wakes a waiting poll: one per cent, less a little
// for the rounding of fractions such as 57/100 − 56/100.
constexpr double JOB_WAKE_STEP = 0.01 - 1e-9;

// Counts a wake-up, and marks the end when `ended`, and wakes the waiter.
void SignalJobWake(JobWake* wake, bool ended);
// The wake-ups so far: read before looking at what the job has done, so that
// a wake-up after the look is not missed.
uint32_t JobWakeCount(JobWake* wake);
bool JobWakeEnded(JobWake* wake);
// Sleeps until a wake-up after `seen`, the end, or `ms` milliseconds; it may
// return early, so the caller looks again.
void WaitForJobWake(JobWake* wake, uint32_t seen, uint32_t ms);

// 1 go on, 0 stop. Stores done / total and lets the request loop run.
int32_t JobProgress(JobRecord* record, int32_t done, int32_t total);
// The held image lives in the server's own memory: access is always granted.
int32_t ImageAccessBegin(JobRecord* record);
int32_t ImageAccessEnd(JobRecord* record);
int32_t ImageAccessCheck(JobRecord* record);
