#include "invocation/about_call.h"

#include <windows.h>
#include <cstring>

#include "catalogue/module_loader.h"
#include "call/plugin_records.h"
#include "invocation/result_messages.h"
#include "sdk/filter_record.h"
#include "call/job_record.h"
#include "call/plugin_call.h"
#include "base/guard.h"
#include "base/text.h"
#include "services/host_services.h"

namespace {
struct AboutCall {
  PluginEntryProc entry;
  intptr_t data;
  int16_t result;
};

void CallAbout(void* context) {
  AboutCall* call = static_cast<AboutCall*>(context);
  call->entry(filterSelectorAbout, &ThePluginRecords()->about, &call->data, &call->result);
}
}  // namespace

// Static, as the Filter call's: a late callback never reaches a dead frame.
static PluginCall gAboutCall;

static int RunAboutSequence(JobRecord* job, PluginEntry* entry);

int RunAboutCall(JobRecord* job, PluginEntry* entry) {
  InitPluginCall(&gAboutCall, job, ThePluginRecords());
  BeginPluginCall(&gAboutCall);
  const int ok = RunAboutSequence(job, entry);
  EndPluginCall(&gAboutCall);
  return ok;
}

static int RunAboutSequence(JobRecord* job, PluginEntry* entry) {
  AboutCall call{nullptr, 0, 0};
  void* module = nullptr;
  call.entry = LoadPluginEntryPoint(job->hostWindow, entry, &module);
  if (call.entry == nullptr) {
    job->resultCode = 1;
    BoundedCopyW(job->message, 256, L"Cannot get entry-point");
    return 0;
  }
  PluginRecords* r = ThePluginRecords();
  r->platformData.hwnd = static_cast<intptr_t>(job->hostWindow);
  memset(&r->about, 0, sizeof(r->about));
  r->about.plugInRef = reinterpret_cast<void*>(1);
  r->about.platformData = &r->platformData;
  FillSPBasic(&r->spBasic);
  r->about.sSPBasic = &r->spBasic;
  // A plug-in that crashes in its About box must not take the server down.
  if (!GuardedSection(CallAbout, &call, nullptr)) call.result = PLUGIN_CRASHED;
  FreeLibrary(static_cast<HMODULE>(module));

  job->resultCode = 0;
  job->message[0] = 0;
  if (call.result != noErr) {
    wchar_t text[512];
    uint32_t code = 0;
    DescribePluginResult(call.result, text, &code);
    job->resultCode = code;
    BoundedCopyW(job->message, 256, text);
  }
  return 1;
}
