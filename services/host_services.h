// The procedures the server offers to running plug-ins, and the fillers that
// put them into the procedure records. All use the published signatures and
// the default (cdecl) convention on the 32-bit build.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/basic_types.h"
#include "sdk/procs.h"
#include "sdk/suites.h"

// ---- Fillers for the records set-up points the filter record at.
void FillHandleProcs(HandleProcs* procs);          // version 1, 8 procedures
void FillBufferProcs(BufferProcs* procs);          // version 2, 5 procedures of the 8 slots
void FillPropertyProcs(PropertyProcs* procs);      // version 1, 2 procedures
void FillResourceProcs(ResourceProcs* procs);      // version 3, 4 procedures
void FillImageServicesProcs(ImageServicesProcs* procs);  // version 1, 6 procedures that do nothing
void FillSPBasic(SPBasicSuite* suite);

// ---- Abort, progress, no-ops, cursor, ticks.
struct PluginCall;
// The published type names TestAbortProc and ProgressProc are taken by the
// procedure types, hence the Host prefix.
Boolean HostTestAbort();
void HostProgress(int32_t done, int32_t total);
// Points the call's progress hook at ForwardProgress, which reaches
// JobProgress through the call's job.
void InstallProgressForwarding(PluginCall* call);
int32_t ForwardProgress(int32_t done, int32_t total);
void NoOpHostProc(int16_t selector, intptr_t* data);  // hostProc
void NoOpProcessEvent(void* event);                   // processEvent, UI hooks entry 1
SPErr SetCursorByName(const char* cursorID);
// The system cursor id for a name; 0 for a null name (no cursor).
uint16_t SystemCursorForName(const char* name);
uint32_t TickCountProc();

// ---- Handles.
Handle HostNewHandle(int32_t size);
void HostDisposeHandle(Handle h);  // also disposeRegularHandleProc
int32_t HostGetHandleSize(Handle h);
OSErr HostSetHandleSize(Handle h, int32_t newSize);
Ptr HostLockHandle(Handle h, Boolean moveHigh);
void HostUnlockHandle(Handle h);
void HostRecoverSpace(int32_t size);
void HandleSuiteSetLock(Handle h, Boolean lock, Ptr* address, Boolean* oldLock);

// ---- Buffers.
OSErr HostAllocateBuffer(int32_t size, BufferID* bufferID);
Ptr HostLockBuffer(BufferID bufferID, Boolean moveHigh);
void HostUnlockBuffer(BufferID bufferID);
void HostFreeBuffer(BufferID bufferID);
int32_t HostBufferSpace();
Ptr BufferSuiteNew(uint32_t* requestedSize, uint32_t minimumSize);
void BufferSuiteDispose(Ptr* buffer);
uint32_t BufferSuiteGetSize(Ptr buffer);
uint32_t BufferSuiteGetSpace();

// ---- Properties. HostGetProperty is also the filter record's getPropertyObsolete.
OSErr HostGetProperty(OSType signature, OSType key, int32_t index, intptr_t* simpleProperty, Handle* complexProperty);
OSErr HostSetProperty(OSType signature, OSType key, int32_t index, intptr_t simpleProperty, Handle complexProperty);

// ---- Basic suite and suites.
SPErr SPAcquireSuite(const char* name, int32_t version, const void** suite);
SPErr SPReleaseSuite(const char* name, int32_t version);
SPBoolean SPIsEqual(const char* token1, const char* token2);
SPErr SPAllocateBlock(size_t size, void** block);
SPErr SPFreeBlock(void* block);
SPErr SPReallocateBlock(void* block, size_t newSize, void** newBlock);
SPErr SPUndefined();
intptr_t UIHooksMainAppWindow();

// The last suite name the current call was refused because the server does
// not serve it (at most 255 bytes, ANSI); empty until the first refusal.
const char* MissingServiceName();

