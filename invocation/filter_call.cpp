#include "invocation/filter_call.h"

#include <windows.h>
#include <cstring>

#include "catalogue/module_loader.h"
#include "engine/advance_state.h"
#include "engine/escape_key.h"
#include "engine/working_copy.h"
#include "invocation/filter_setup.h"
#include "call/plugin_records.h"
#include "invocation/recorded_settings.h"
#include "invocation/result_messages.h"
#include "sdk/filter_record.h"
#include "call/job_record.h"
#include "call/plugin_call.h"
#include "base/guard.h"
#include "base/text.h"
#include "services/descriptor_procs.h"
#include "services/host_services.h"

static bool Empty(const Rect& r) { return !(r.right > r.left || r.bottom > r.top); }
static bool Empty(const VRect& r) { return !(r.right > r.left || r.bottom > r.top); }

bool RequestsExhausted() {
  FilterRecord* fr = PluginFilterRecord();
  BigDocumentStruct* big = fr->bigDocumentData;
  if (big != nullptr && big->PluginUsing32BitCoordinates != 0) {
    const VRect* from[2] = {&big->inRect32, &big->outRect32};
    Rect* to[2] = {&fr->inRect, &fr->outRect};
    for (int i = 0; i < 2; ++i)
      *to[i] = Rect{static_cast<int16_t>(from[i]->top), static_cast<int16_t>(from[i]->left),
                    static_cast<int16_t>(from[i]->bottom), static_cast<int16_t>(from[i]->right)};
    // Judged on the 32-bit rectangles themselves: their 16-bit copies wrap
    // past 32,767, and a tile of 65,536 rows would read as empty.
    return Empty(*from[0]) && Empty(*from[1]) && Empty(fr->maskRect);
  }
  return Empty(fr->inRect) && Empty(fr->outRect) && Empty(fr->maskRect);
}

namespace {
struct Sequence {
  PluginEntryProc entry;
  TileExchange* tiles;
  FilterRecord* record;
  intptr_t data;
  int16_t result;
  int16_t loopResult;  // what ended the Continue loop
  bool parameters;     // Parameters is sent: not in a replay
};

void Call(Sequence* s, int16_t selector) { s->entry(selector, s->record, &s->data, &s->result); }

// Once advanceState has refused the plug-in (an image too large for its
// 16-bit rectangles), that refusal is the result, whatever the plug-in did
// with the error it was given.
bool Refused(Sequence* s) {
  if (s->tiles->refusal == 0) return false;
  s->result = s->tiles->refusal;
  return true;
}

void RunSelectors(void* context) {
  Sequence* s = static_cast<Sequence*>(context);
  EscapeKeyJobStart();
  if (s->parameters) {
    Call(s, filterSelectorParameters);
    if (s->result != noErr) return;
  }
  Call(s, filterSelectorPrepare);
  if (s->result != noErr) return;
  AdvanceState();
  if (Refused(s)) return;
  Call(s, filterSelectorStart);
  if (Refused(s)) return;
  if (s->result != noErr) {
    if (s->result > 0) s->result = userCanceledErr;
    return;
  }
  // Read and not acted on: whether Escape cancels is advanceState's answer;
  // the read only tells the watch of a release or a fresh press so far.
  EscapeKeyCancels();
  for (;;) {
    AdvanceState();
    if (Refused(s)) break;
    Call(s, filterSelectorContinue);
    if (Refused(s) || s->result != noErr || RequestsExhausted()) break;
  }
  s->loopResult = s->result;
  AdvanceState();
  Call(s, filterSelectorFinish);
  // Many plug-ins clear their result at the top of every selector: a loop
  // that ended in failure stays a failure even when Finish answers 0.
  if (s->result == noErr) s->result = s->loopResult;
  Refused(s);
}
}  // namespace

// The call and its tiles live in static storage, not on this frame: a
// plug-in's own thread that calls back after the call has ended must not
// reach a frame that is gone (it finds the idle call instead).
static PluginCall gFilterCall;
static TileExchange gFilterTiles;
static DescriptorTokens gFilterTokens;

static int RunFilterSequence(PluginCall* call, PluginEntry* entry);

int RunFilterCall(JobRecord* job, PluginEntry* entry) {
  PluginCall* call = &gFilterCall;
  InitPluginCall(call, job, ThePluginRecords());
  call->tiles = &gFilterTiles;
  call->descriptorTokens = &gFilterTokens;
  BeginPluginCall(call);
  const int ok = RunFilterSequence(call, entry);
  EndPluginCall(call);
  return ok;
}

static int RunFilterSequence(PluginCall* call, PluginEntry* entry) {
  JobRecord* job = call->job;
  TileExchange* tiles = call->tiles;
  void* module = nullptr;
  PluginEntryProc proc = LoadPluginEntryPoint(job->hostWindow, entry, &module);
  if (proc == nullptr) {
    RecordSettings(job, entry, ThePluginRecords());
    job->resultCode = 1;
    BoundedCopyW(job->message, 256, L"Cannot get entry-point");
    return 0;
  }

  Sequence s{proc, tiles, &call->records->filter, 0, 0, 0, SendsParametersSelector(job)};
  if (!SetUpFilterRecord(call)) {
    s.result = memFullErr;
  } else if (!GuardedSection(RunSelectors, &s, nullptr)) {
    s.result = PLUGIN_CRASHED;
  }

  // Any failure, a positive result from Continue or Finish included, gives
  // the editor back the pixels it sent: tiles may have been written back.
  if (s.result != noErr && job->ImageAccessBegin != nullptr && job->ImageAccessBegin(job)) {
    RestoreOriginalRows(tiles);
    if (job->ImageAccessEnd != nullptr) job->ImageAccessEnd(job);
  }

  // Describe the result while the plug-in's own error text still exists:
  // the clean-up below zeroes the record that points at it.
  wchar_t text[512];
  uint32_t code = 0;
  if (s.result != noErr) DescribePluginResult(s.result, text, &code);

  ReleaseWorkingCopy(tiles);
  ReleasePixelBuffer(&tiles->editor);
  // What the run leaves is recorded whatever its outcome; tokens left open end here.
  CloseDescriptorTokens(call->descriptorTokens);
  RecordSettings(job, entry, call->records);
  FilterRecord* fr = PluginFilterRecord();
  if (fr->parameters != nullptr) HostDisposeHandle(fr->parameters);
  FreeTileBlocks(tiles);
  memset(FilterRecordShadow(), 0, FILTER_RECORD_BLOCK_BYTES);
  ZeroFilterRecordBlock();
  memset(&ThePluginRecords()->bigDocument, 0, sizeof(ThePluginRecords()->bigDocument));
  if (job->progress != nullptr) job->progress(job, 100, 100);
  FreeLibrary(static_cast<HMODULE>(module));

  job->resultCode = 0;
  job->message[0] = 0;
  if (s.result == noErr) return 1;
  job->resultCode = code;
  BoundedCopyW(job->message, 256, text);
  return 0;
}
