// Publishes a job (and, for the engine, tiles) as the current plug-in call,
// the way the About and Filter calls do, for tests and benchmarks that call
// the services and the engine directly.
#pragma once
#include "call/plugin_call.h"
#include "call/plugin_records.h"
#include "services/descriptor_procs.h"

inline PluginCall* TestCall() {
  static PluginCall call;
  return &call;
}

// A fresh call serving `job` with `tiles`; both null ends it (callbacks then
// see the idle call, as between real calls).
inline void PublishJob(JobRecord* job, TileExchange* tiles = nullptr) {
  PluginCall* call = TestCall();
  if (job == nullptr && tiles == nullptr) {
    EndPluginCall(call);
    return;
  }
  static DescriptorTokens tokens;
  InitPluginCall(call, job, ThePluginRecords());
  call->tiles = tiles;
  call->descriptorTokens = &tokens;
  BeginPluginCall(call);
}
