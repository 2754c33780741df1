// One plug-in call: everything an About or Filter call's callbacks need, in
// one object that the invocation layer fills per call and passes down.
// Plug-ins call the fixed-signature callbacks with no context of ours, and
// some from threads of their own, so those reach the call through
// CurrentCall(): one process-wide pointer, set for the length of the call.
// One call runs at a time.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

struct JobRecord;
struct PluginRecords;
struct TileExchange;      // the engine's, for a Filter call
struct DescriptorTokens;  // the services', for a Filter call

using CallProgressHook = int32_t (*)(int32_t done, int32_t total);

constexpr size_t MISSING_SERVICE_NAME_BYTES = 256;

struct PluginCall {
  JobRecord* job;          // the job the call serves
  PluginRecords* records;  // the records handed to the plug-in
  TileExchange* tiles;  // a Filter call's tile exchange; null in About
  // The descriptor tokens the plug-in has open; null in About.
  DescriptorTokens* descriptorTokens;
  // Written on the job thread, read from any plug-in thread.
  std::atomic<CallProgressHook> progressHook;
  std::atomic<uint8_t> abortFlag;
  std::atomic<int32_t> watchSuspension;
  // The last suite refused for want of it (ANSI, at most 255 bytes), for the
  // call's error text; empty until the first refusal.
  char missingServiceName[MISSING_SERVICE_NAME_BYTES];
};

// Empties `call` for a new call serving `job` (which may be null).
void InitPluginCall(PluginCall* call, JobRecord* job, PluginRecords* records);
void BeginPluginCall(PluginCall* call);
void EndPluginCall(PluginCall* call);

// The call in progress; between calls an idle call with no job and no tiles,
// so a callback from a plug-in's leftover thread finds nothing to act on.
PluginCall* CurrentCall();
