// The basic suite and the named suites a plug-in acquires through it: plain
// tables of procedures without a header; entry k sits at k pointers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"
#include "sdk/layout.h"
#include "sdk/procs.h"

struct PluginRefToken;
using SPPluginRef = PluginRefToken*;
struct ZStringToken;
using ASZString = ZStringToken*;

constexpr SPErr kSPBadParameterError = 0x5061726D;  // 'Parm'

using SPAcquireSuiteProc = SPErr (*)(const char* name, int32_t version, const void** suite);
using SPReleaseSuiteProc = SPErr (*)(const char* name, int32_t version);
using SPIsEqualProc = SPBoolean (*)(const char* token1, const char* token2);
using SPAllocateBlockProc = SPErr (*)(size_t size, void** block);
using SPFreeBlockProc = SPErr (*)(void* block);
using SPReallocateBlockProc = SPErr (*)(void* block, size_t newSize, void** newBlock);
using SPUndefinedProc = SPErr (*)();

struct SPBasicSuite {
  SPAcquireSuiteProc AcquireSuite;        // 0
  SPReleaseSuiteProc ReleaseSuite;        // 1
  SPIsEqualProc IsEqual;                  // 2
  SPAllocateBlockProc AllocateBlock;      // 3
  SPFreeBlockProc FreeBlock;              // 4
  SPReallocateBlockProc ReallocateBlock;  // 5
  SPUndefinedProc Undefined;              // 6
};
static_assert(offsetof(SPBasicSuite, ReleaseSuite) == (PH64 ? 8 : 4));
static_assert(offsetof(SPBasicSuite, Undefined) == (PH64 ? 48 : 24));
static_assert(sizeof(SPBasicSuite) == (PH64 ? 56 : 28));

// "SP Blocks Suite": the debug texts are for the host's own diagnostics.
using SPBlocksAllocateBlockProc = SPErr (*)(size_t size, const char* debug, void** block);
using SPBlocksFreeBlockProc = SPErr (*)(void* block);
using SPBlocksReallocateBlockProc = SPErr (*)(void* block, size_t newSize, const char* debug, void** newBlock);

struct SPBlocksSuite {
  SPBlocksAllocateBlockProc AllocateBlock;      // 0
  SPBlocksFreeBlockProc FreeBlock;              // 1
  SPBlocksReallocateBlockProc ReallocateBlock;  // 2
};
static_assert(offsetof(SPBlocksSuite, ReallocateBlock) == (PH64 ? 16 : 8));
static_assert(sizeof(SPBlocksSuite) == (PH64 ? 24 : 12));

// "Photoshop Buffer Suite for Plug-ins", version 1.
using BufferSuiteNewProc = Ptr (*)(uint32_t* requestedSize, uint32_t minimumSize);
using BufferSuiteDisposeProc = void (*)(Ptr* buffer);
using BufferSuiteGetSizeProc = uint32_t (*)(Ptr buffer);
using BufferSuiteGetSpaceProc = uint32_t (*)();

struct PSBufferSuite1 {
  BufferSuiteNewProc New;            // 0
  BufferSuiteDisposeProc Dispose;    // 1
  BufferSuiteGetSizeProc GetSize;    // 2
  BufferSuiteGetSpaceProc GetSpace;  // 3
};
static_assert(offsetof(PSBufferSuite1, GetSpace) == (PH64 ? 24 : 12));
static_assert(sizeof(PSBufferSuite1) == (PH64 ? 32 : 16));

// "Photoshop Handle Suite for Plug-ins". Version 2 inserts DisposeRegularHandle
// at index 2, so the two versions differ from there on.
using HandleSuiteSetLockProc = void (*)(Handle h, Boolean lock, Ptr* address, Boolean* oldLock);

struct PSHandleSuite1 {
  NewPIHandleProc New;                // 0
  DisposePIHandleProc Dispose;        // 1
  HandleSuiteSetLockProc SetLock;     // 2
  GetPIHandleSizeProc GetSize;        // 3
  SetPIHandleSizeProc SetSize;        // 4
  RecoverSpaceProc RecoverSpace;      // 5
};
static_assert(offsetof(PSHandleSuite1, SetLock) == (PH64 ? 16 : 8));
static_assert(offsetof(PSHandleSuite1, RecoverSpace) == (PH64 ? 40 : 20));
static_assert(sizeof(PSHandleSuite1) == (PH64 ? 48 : 24));

struct PSHandleSuite2 {
  NewPIHandleProc New;                                      // 0
  DisposePIHandleProc Dispose;                              // 1
  DisposeRegularHandlePIHandleProc DisposeRegularHandle;    // 2
  HandleSuiteSetLockProc SetLock;                           // 3
  GetPIHandleSizeProc GetSize;                              // 4
  SetPIHandleSizeProc SetSize;                              // 5
  RecoverSpaceProc RecoverSpace;                            // 6
};
static_assert(offsetof(PSHandleSuite2, SetLock) == (PH64 ? 24 : 12));
static_assert(sizeof(PSHandleSuite2) == (PH64 ? 56 : 28));

// "Photoshop UIHooks Suite for Plug-ins", versions 1 to 3: each version adds
// one entry at the end.
using UIHooksMainAppWindowProc = intptr_t (*)();
using UIHooksSetCursorProc = SPErr (*)(const char* cursorID);
using UIHooksTickCountProc = uint32_t (*)();
using UIHooksGetPluginNameProc = SPErr (*)(SPPluginRef plugin, ASZString* name);
using UIHooksSetPluginMenuEntryProc = SPErr (*)(SPPluginRef plugin, ASZString menuEntry, uint32_t eventID);
using UIHooksGetLocalizedFileNameProc = SPErr (*)(ASZString name, ASZString* localizedName);

struct PSUIHooksSuite3 {
  ProcessEventProc processEvent;                         // 0
  DisplayPixelsProc displayPixels;                       // 1
  ProgressProc progressBar;                              // 2
  TestAbortProc testAbort;                               // 3
  UIHooksMainAppWindowProc MainAppWindow;                // 4
  UIHooksSetCursorProc SetCursor;                        // 5
  UIHooksTickCountProc TickCount;                        // 6
  UIHooksGetPluginNameProc GetPluginName;                // 7
  UIHooksSetPluginMenuEntryProc SetPluginMenuEntry;      // 8, version 2
  UIHooksGetLocalizedFileNameProc GetLocalizedFileName;  // 9, version 3
};
static_assert(offsetof(PSUIHooksSuite3, MainAppWindow) == (PH64 ? 32 : 16));
static_assert(offsetof(PSUIHooksSuite3, GetPluginName) == (PH64 ? 56 : 28));
static_assert(offsetof(PSUIHooksSuite3, GetLocalizedFileName) == (PH64 ? 72 : 36));
static_assert(sizeof(PSUIHooksSuite3) == (PH64 ? 80 : 40));

// Names as plug-ins ask for them.
#define kSPBlocksSuite "SP Blocks Suite"
#define kPSBufferSuite "Photoshop Buffer Suite for Plug-ins"
#define kPSUIHooksSuite "Photoshop UIHooks Suite for Plug-ins"
#define kPSColorSpaceSuite "Photoshop ColorSpace Suite for Plug-ins"
#define kSPSuitesSuite "SP Suites Suite"
#define kOSDirectExpressViewSuite "OS Direct ExpressView Suite"
#define kADMBasicSuite "ADM Basic Suite"
#define kPSHandleSuite "Photoshop Handle Suite for Plug-ins"
#define kPSPropertySuite "Photoshop Property Suite for Plug-ins"
#define kPSImageServicesSuite "Photoshop Image Services Suite for Plug-ins"
#define kPSResourceSuite "Photoshop Resource Suite for Plug-ins"
