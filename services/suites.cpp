#include <cstdint>
#include <cstring>

#include "call/plugin_records.h"
#include "call/job_record.h"
#include "call/plugin_call.h"
#include "base/memory.h"
#include "services/global_memory_win32.h"
#include "engine/display_pixels.h"
#include "services/host_services.h"

// ---- Blocks: fixed, zero-filled, addressed by pointer.

SPErr SPAllocateBlock(size_t size, void** block) {
  if (block == nullptr) return kSPBadParameterError;
  *block = AllocZeroed(size);
  return *block != nullptr ? kSPNoError : kSPOutOfMemoryError;
}

SPErr SPFreeBlock(void* block) {
  FreeBlock(block);
  return kSPNoError;
}

// A new block always: the old one stays whole when the new one cannot be had.
SPErr SPReallocateBlock(void* block, size_t newSize, void** newBlock) {
  if (newBlock == nullptr) return kSPBadParameterError;
  void* fresh = AllocZeroed(newSize);
  *newBlock = fresh;
  if (fresh == nullptr) return kSPOutOfMemoryError;
  if (block != nullptr) {
    uint64_t oldSize = GlobalBlockSize(block);
    memcpy(fresh, block, static_cast<size_t>(oldSize < newSize ? oldSize : newSize));
    FreeBlock(block);
  }
  return kSPNoError;
}

static SPErr BlocksAllocate(size_t size, const char* debug, void** block) { return SPAllocateBlock(size, block); }

static SPErr BlocksReallocate(void* block, size_t newSize, const char* debug, void** newBlock) {
  return SPReallocateBlock(block, newSize, newBlock);
}

// ---- Small SPBasic entries.

SPErr SPReleaseSuite(const char* name, int32_t version) { return kSPNoError; }

SPBoolean SPIsEqual(const char* token1, const char* token2) {
  if (token1 == nullptr || token2 == nullptr) return token1 == token2;
  return strcmp(token1, token2) == 0;
}

SPErr SPUndefined() { return kSPNoError; }

// ---- UI hooks.

// The editor's window as a 32-bit value. An About call publishes no job; its
// platform data carries the same window.
intptr_t UIHooksMainAppWindow() {
  JobRecord* job = CurrentCall()->job;
  uintptr_t window = job != nullptr ? job->hostWindow : static_cast<uintptr_t>(ThePluginRecords()->platformData.hwnd);
  return static_cast<intptr_t>(static_cast<uint32_t>(window));
}

static SPErr UIHooksGetPluginName(SPPluginRef plugin, ASZString* name) { return kSPOutOfMemoryError; }

static SPErr UIHooksSetPluginMenuEntry(SPPluginRef plugin, ASZString menuEntry, uint32_t eventID) {
  return kSPOutOfMemoryError;
}

static SPErr UIHooksGetLocalizedFileName(ASZString name, ASZString* localizedName) { return kSPOutOfMemoryError; }

// ---- Image services and resources: nothing to offer, nothing kept.

static OSErr ImageServicesNone(PSImagePlane*, PSImagePlane*, Rect*, Fixed*, int16_t) { return noErr; }
static OSErr ImageServicesNoneMulti(PSImageMultiPlane*, PSImageMultiPlane*, Rect*, Fixed*, int16_t) { return noErr; }
static OSErr ImageServicesNoneMulti32(PSImageMultiPlane32*, PSImageMultiPlane32*, VRect*, int64_t*, int16_t) {
  return noErr;
}

static int16_t ResourceCount(ResType type) { return 0; }
static Handle ResourceGet(ResType type, int16_t index) { return nullptr; }
static void ResourceDelete(ResType type, int16_t index) {}
static OSErr ResourceAdd(ResType type, Handle data) { return noErr; }

void FillImageServicesProcs(ImageServicesProcs* procs) {
  *procs = ImageServicesProcs{};
  procs->imageServicesProcsVersion = 1;
  procs->numImageServicesProcs = 6;
  procs->interpolate1DProc = ImageServicesNone;
  procs->interpolate2DProc = ImageServicesNone;
  procs->interpolate1DMultiProc = ImageServicesNoneMulti;
  procs->interpolate2DMultiProc = ImageServicesNoneMulti;
  procs->interpolate1DMulti32Proc = ImageServicesNoneMulti32;
  procs->interpolate2DMulti32Proc = ImageServicesNoneMulti32;
}

void FillResourceProcs(ResourceProcs* procs) {
  *procs = ResourceProcs{};
  procs->resourceProcsVersion = 3;
  procs->numResourceProcs = 4;
  procs->countProc = ResourceCount;
  procs->getProc = ResourceGet;
  procs->deleteProc = ResourceDelete;
  procs->addProc = ResourceAdd;
}

// ---- The suite tables. Constant from the start, so a plug-in that keeps a
// table from an earlier call, or acquires one during an About call, finds
// the same procedures.

static const SPBlocksSuite kBlocksSuite = {
    BlocksAllocate,    // AllocateBlock
    SPFreeBlock,       // FreeBlock
    BlocksReallocate,  // ReallocateBlock
};

static const PSBufferSuite1 kBufferSuite = {
    BufferSuiteNew,       // New
    BufferSuiteDispose,   // Dispose
    BufferSuiteGetSize,   // GetSize
    BufferSuiteGetSpace,  // GetSpace
};

static const PSUIHooksSuite3 kUIHooksSuite = {
    NoOpProcessEvent,             // processEvent
    DisplayPixels,                // displayPixels
    HostProgress,                 // progressBar
    HostTestAbort,                // testAbort
    UIHooksMainAppWindow,         // MainAppWindow
    SetCursorByName,              // SetCursor
    TickCountProc,                // TickCount
    UIHooksGetPluginName,         // GetPluginName
    UIHooksSetPluginMenuEntry,    // SetPluginMenuEntry
    UIHooksGetLocalizedFileName,  // GetLocalizedFileName
};

static const PSHandleSuite1 kHandleSuite = {
    HostNewHandle,       // New
    HostDisposeHandle,   // Dispose
    HandleSuiteSetLock,  // SetLock
    HostGetHandleSize,   // GetSize
    HostSetHandleSize,   // SetSize
    HostRecoverSpace,    // RecoverSpace
};

// These three suites are the procs records themselves, version and count
// first, as plug-ins declare them.
static const PropertyProcs kPropertySuite = {1, 2, HostGetProperty, HostSetProperty};

static const ImageServicesProcs kImageServicesSuite = {
    1, 6, ImageServicesNone, ImageServicesNone, ImageServicesNoneMulti, ImageServicesNoneMulti,
    ImageServicesNoneMulti32, ImageServicesNoneMulti32};

static const ResourceProcs kResourceSuite = {3, 4, ResourceCount, ResourceGet, ResourceDelete, ResourceAdd};

// Compared in this order, exactly; a null table is a suite never served.
struct SuiteRow {
  const char* name;
  int32_t maxVersion;
  const void* table;
};

static const SuiteRow kSuites[] = {
    {kSPBlocksSuite, 2, &kBlocksSuite},
    {kPSBufferSuite, 1, &kBufferSuite},
    {kPSUIHooksSuite, 3, &kUIHooksSuite},
    {kPSColorSpaceSuite, 0, nullptr},
    {kSPSuitesSuite, 0, nullptr},
    {kOSDirectExpressViewSuite, 0, nullptr},
    {kADMBasicSuite, 0, nullptr},
    {kPSHandleSuite, 1, &kHandleSuite},
    {kPSPropertySuite, 1, &kPropertySuite},
    {kPSImageServicesSuite, 1, &kImageServicesSuite},
    {kPSResourceSuite, 3, &kResourceSuite},
};

static void RecordMissingService(const char* name) {
  char* into = CurrentCall()->missingServiceName;
  size_t n = 0;
  while (n + 1 < MISSING_SERVICE_NAME_BYTES && name[n] != 0) {
    into[n] = name[n];
    ++n;
  }
  into[n] = 0;
}

const char* MissingServiceName() { return CurrentCall()->missingServiceName; }

SPErr SPAcquireSuite(const char* name, int32_t version, const void** suite) {
  if (name == nullptr || suite == nullptr) return kSPBadParameterError;
  for (const SuiteRow& row : kSuites) {
    if (strcmp(row.name, name) != 0) continue;
    if (row.table == nullptr) break;
    // A known suite at too new a version: the plug-in may retry older ones.
    if (version > row.maxVersion) return kSPUnimplementedError;
    *suite = row.table;
    return kSPNoError;
  }
  RecordMissingService(name);
  return kSPUnimplementedError;
}

void FillSPBasic(SPBasicSuite* suite) {
  suite->AcquireSuite = SPAcquireSuite;
  suite->ReleaseSuite = SPReleaseSuite;
  suite->IsEqual = SPIsEqual;
  suite->AllocateBlock = SPAllocateBlock;
  suite->FreeBlock = SPFreeBlock;
  suite->ReallocateBlock = SPReallocateBlock;
  suite->Undefined = SPUndefined;
}
