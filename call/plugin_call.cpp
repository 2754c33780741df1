#include "call/plugin_call.h"

static PluginCall gIdleCall;
static std::atomic<PluginCall*> gCurrent{nullptr};

void InitPluginCall(PluginCall* call, JobRecord* job, PluginRecords* records) {
  call->job = job;
  call->records = records;
  call->tiles = nullptr;
  call->descriptorTokens = nullptr;
  call->progressHook.store(nullptr);
  call->abortFlag.store(0);
  call->watchSuspension.store(0);
  call->missingServiceName[0] = 0;
}

void BeginPluginCall(PluginCall* call) { gCurrent.store(call); }

void EndPluginCall(PluginCall* call) {
  PluginCall* expected = call;
  gCurrent.compare_exchange_strong(expected, nullptr);
}

PluginCall* CurrentCall() {
  PluginCall* call = gCurrent.load();
  return call != nullptr ? call : &gIdleCall;
}
