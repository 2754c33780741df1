#include <cstdint>
#include <cstring>

#include "base/clock.h"
#include "call/job_record.h"
#include "call/plugin_call.h"
#include "services/host_services.h"

// The editor's cancel request counts at once, even for a plug-in that never
// reports progress; the next progress report is then refused as well.
Boolean HostTestAbort() {
  PluginCall* call = CurrentCall();
  JobRecord* job = call->job;
  if (job != nullptr && job->abortRequest != 0) call->abortFlag = 1;
  return call->abortFlag;
}

// Once the job has said stop, the flag stays set for the rest of the call,
// even if later progress reports are answered with "go on".
void HostProgress(int32_t done, int32_t total) {
  PluginCall* call = CurrentCall();
  CallProgressHook hook = call->progressHook;
  if (hook != nullptr && hook(done, total) == 0) call->abortFlag = 1;
}

int32_t ForwardProgress(int32_t done, int32_t total) {
  JobRecord* job = CurrentCall()->job;
  if (job == nullptr || job->progress == nullptr) return 1;
  return job->progress(job, done, total);
}

void InstallProgressForwarding(PluginCall* call) { call->progressHook = ForwardProgress; }

void NoOpHostProc(int16_t selector, intptr_t* data) {}

void NoOpProcessEvent(void* event) {}

struct CursorRow {
  const char* name;
  uint16_t systemCursor;
};

// The system cursor ids (IDC_*) by their numbers, so this table needs no
// platform header.
static const CursorRow kCursors[] = {
    {"Photoshop Cursor Arrow", 32512},           // IDC_ARROW
    {"Photoshop Cursor Watch", 32514},           // IDC_WAIT
    {"Photoshop Cursor Watch Continue", 32650},  // IDC_APPSTARTING
    {"Photoshop Cursor Move", 32646},            // IDC_SIZEALL
    {"Photoshop Cursor Hand", 32649},            // IDC_HAND
    {"Photoshop Cursor Grab", 32649},            // IDC_HAND
    {"Photoshop Cursor Crosshair", 32515},       // IDC_CROSS
    {"Photoshop Cursor Type", 32513},            // IDC_IBEAM
    {"Photoshop Cursor Path Arrow", 32516},      // IDC_UPARROW
};

uint16_t SystemCursorForName(const char* name) {
  if (name == nullptr) return 0;
  for (const CursorRow& row : kCursors)
    if (strcmp(row.name, name) == 0) return row.systemCursor;
  return 32512;
}

// Sixtieths of a second on the server's clock.
uint32_t TickCountProc() {
  double seconds = ClockElapsed(0, ClockNow());
  if (!(seconds > 0.0)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds * 60.0));
}
