/* Frame-based exception guard. Kept in C: g++ drops the x64 handler data in a
   function that has C++ cleanups, and the guard must see faults after the
   plug-in's own handlers have had their chance, which a vectored handler does
   not allow. On x64 a vectored handler still stands in for the frame when no
   walk of the stack can reach it. */
#include <windows.h>
#include <stdatomic.h>
#include "base/guard.h"

static int IsPassedOn(DWORD code) {
  return code == GUARD_PASS_GUARD_PAGE || code == GUARD_PASS_STACK_OVERFLOW;
}

#if defined(__x86_64__)

/* The vectored handler resumes a guard by handing the system the context
   captured here, so the capture returns a second time, as setjmp does. */
NTSYSAPI VOID NTAPI RtlCaptureContext(PCONTEXT ContextRecord) __attribute__((returns_twice));

/* The innermost active guard of the thread, so the filter knows where to put
   the code. TlsAlloc rather than thread_local: mingw's thread_local allocates
   on first use, which a filter must not do. */
typedef struct GuardRecord {
  CONTEXT resume;  /* where the vectored handler resumes the guard */
  struct GuardRecord* outer;
  /* volatile for the resumed context, as with setjmp: both are written on
     this thread, by the handler, not by another thread. */
  volatile DWORD code;
  volatile LONG taken;  /* set by the vectored handler */
  int frameOnly;        /* the vectored handler leaves this guard alone */
} GuardRecord;

/* C11's atomics: the same model as std::atomic in the C++ files. */
static _Atomic DWORD gSlot = TLS_OUT_OF_INDEXES;
/* The guard routine's own entry in the unwind tables, to recognise its frame. */
static DWORD64 gGuardBase;
static DWORD gGuardBegin;

static LONG CALLBACK GuardVectored(EXCEPTION_POINTERS* pointers);
static int GuardedRun(GuardedProc proc, void* context, uint32_t* exceptionCode, int frameOnly);

/* Not inlined: GuardedRun's capture returns twice, which its own locals
   must survive. */
__attribute__((noinline)) static DWORD GuardSlot(void) {
  DWORD slot = atomic_load(&gSlot);
  if (slot != TLS_OUT_OF_INDEXES) return slot;
  DWORD64 base = 0;
  PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry((DWORD64)(uintptr_t)GuardedRun, &base, NULL);
  if (entry != NULL) {
    gGuardBase = base;
    gGuardBegin = entry->BeginAddress;
  }
  DWORD fresh = TlsAlloc();
  DWORD prior = TLS_OUT_OF_INDEXES;
  if (!atomic_compare_exchange_strong(&gSlot, &prior, fresh)) {
    TlsFree(fresh);
    return prior;
  }
  AddVectoredExceptionHandler(0, GuardVectored);
  return fresh;
}

__attribute__((used)) static LONG GuardFilter(EXCEPTION_POINTERS* pointers, void* establisherFrame) {
  (void)establisherFrame;
  DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (IsPassedOn(code)) return EXCEPTION_CONTINUE_SEARCH;
  GuardRecord* record = (GuardRecord*)TlsGetValue(atomic_load(&gSlot));
  if (record != NULL) record->code = code;
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) static int GuardedRun(GuardedProc proc, void* context, uint32_t* exceptionCode,
                                                int frameOnly) {
  DWORD slot = GuardSlot();
  GuardRecord record;
  record.code = 0;
  record.taken = 0;
  record.frameOnly = frameOnly;
  record.outer = (GuardRecord*)TlsGetValue(slot);
  volatile int completed = 0;
  RtlCaptureContext(&record.resume);
  if (record.taken == 0) {
    TlsSetValue(slot, &record);
    /* A scope-table entry for __C_specific_handler: the stretch between the
       two labels is guarded by GuardFilter and resumes at the end label. */
    __asm__ __volatile__(
        "\t.l_startw:\n"
        "\t.seh_handler __C_specific_handler, @except\n"
        "\t.seh_handlerdata\n"
        "\t.long 1\n"
        "\t.rva .l_startw, .l_endw, GuardFilter, .l_endw\n"
        "\t.text\n" ::: "memory");
    proc(context);
    completed = 1;
    __asm__ __volatile__(
        "\tnop\n"
        "\t.l_endw: nop\n" ::: "memory");
  }
  TlsSetValue(slot, record.outer);
  if (exceptionCode != NULL) *exceptionCode = completed ? 0 : record.code;
  return completed;
}

int GuardedSection(GuardedProc proc, void* context, uint32_t* exceptionCode) {
  return GuardedRun(proc, context, exceptionCode, 0);
}

/* What a walk of the stack from a fault finds on its way up: the guard's own
   frame, a handler that may take the fault first, or neither. */
enum { WALK_REACHES_GUARD, WALK_MEETS_HANDLER, WALK_BREAKS };

typedef struct GuardWalk {
  const CONTEXT* fault;
  const GuardRecord* guard;
  int verdict;
} GuardWalk;

/* Wine links its own guarded blocks from the thread block instead of
   describing them in unwind tables; the x64 system leaves the list empty.
   Reads only entries on the stack between here and the fault. */
static int ThreadBlockFrameBetween(DWORD64 low, DWORD64 high) {
  NT_TIB* tib;
  __asm__("movq %%gs:0x30, %0" : "=r"(tib));
  DWORD64 here = (DWORD64)(uintptr_t)__builtin_frame_address(0);
  EXCEPTION_REGISTRATION_RECORD* frame = tib->ExceptionList;
  for (int i = 0; i < 64; ++i) {
    DWORD64 at = (DWORD64)(uintptr_t)frame;
    if (at == 0 || at == ~(DWORD64)0 || at >= high || at < here) return 0;
    if (at >= low) return 1;
    frame = frame->Next;
  }
  return 0;
}

/* Walks up from the fault the way the system's dispatcher does: the
   instruction address picks the routine's unwind information, and a routine
   without any is a leaf whose return address sits at the stack pointer. Every
   step must move up the stack and stay between the fault and the guard's
   frame, so every read of a return address lands on stack that is in use;
   what RtlVirtualUnwind reads through a lying frame pointer is left to the
   frame-only guard this runs under. Only exception handlers count: a
   termination handler or a C++ clean-up never takes a fault. Past a routine
   without unwind information the walk may be reading stale stack, where an
   old return address can name a routine with a handler: a handler met there
   counts only when the walk then arrives exactly at the guard's frame. */
static void WalkFromFault(void* context) {
  GuardWalk* walk = (GuardWalk*)context;
  CONTEXT c = *walk->fault;
  const DWORD64 low = c.Rsp;
  const DWORD64 high = walk->guard->resume.Rsp;
  walk->verdict = WALK_BREAKS;
  if (ThreadBlockFrameBetween(low, high)) {
    walk->verdict = WALK_MEETS_HANDLER;
    return;
  }
  int guessed = 0, metHandler = 0;
  for (int step = 0; step < 4096; ++step) {
    if (c.Rsp < low || c.Rsp > high || (c.Rsp & 7) != 0) return;
    DWORD64 base = 0;
    PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(c.Rip, &base, NULL);
    if (c.Rsp == high) {
      if (entry != NULL && base == gGuardBase && entry->BeginAddress == gGuardBegin)
        walk->verdict = metHandler ? WALK_MEETS_HANDLER : WALK_REACHES_GUARD;
      return;
    }
    DWORD64 from = c.Rsp;
    if (entry == NULL) {
      c.Rip = *(const DWORD64*)(uintptr_t)c.Rsp;
      c.Rsp += 8;
      guessed = 1;
    } else {
      void* handlerData = NULL;
      DWORD64 establisher = 0;
      PEXCEPTION_ROUTINE handler =
          RtlVirtualUnwind(UNW_FLAG_EHANDLER, base, c.Rip, entry, &c, &handlerData, &establisher, NULL);
      if (handler != NULL && !guessed) {
        walk->verdict = WALK_MEETS_HANDLER;
        return;
      }
      if (handler != NULL) metHandler = 1;
    }
    if (c.Rsp <= from) return;
  }
}

/* Frame-based dispatch finds the guard only by unwinding to its frame. From a
   routine without unwind information that is not a leaf, it reads a wrong
   return address and never gets there: Windows stops at the first frame
   outside the stack and ends the process. Wine 8 reads such a routine as a
   leaf too, but does not stop where the walk goes wrong: it follows whatever
   the stack holds, calls handlers of frames long gone, and when a step lands
   on a bad address faults inside its own unwinder, fault upon fault, until the
   process dies. This handler takes such a fault for the innermost guard of the
   thread, and only when no walk can reach that guard or a handler before it;
   otherwise it leaves the fault to the system, so the plug-in's own handlers
   still get it first and termination handlers run as the frames unwind. A
   fault it takes resumes the guard directly: the frames in between, which no
   unwind could get through, are dropped without their clean-ups. */
static LONG CALLBACK GuardVectored(EXCEPTION_POINTERS* pointers) {
  DWORD slot = atomic_load(&gSlot);
  if (slot == TLS_OUT_OF_INDEXES) return EXCEPTION_CONTINUE_SEARCH;
  DWORD lastError = GetLastError();
  GuardRecord* record = (GuardRecord*)TlsGetValue(slot);
  SetLastError(lastError);
  if (record == NULL || record->frameOnly) return EXCEPTION_CONTINUE_SEARCH;
  DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (IsPassedOn(code)) return EXCEPTION_CONTINUE_SEARCH;
  GuardWalk walk = {pointers->ContextRecord, record, WALK_BREAKS};
  const int walked = GuardedRun(WalkFromFault, &walk, NULL, 1);
  /* A walk that reaches the guard is left to the system only from code with
     unwind information. From a routine without it, the system would reach
     the guard too but could not restore the registers that routine and its
     callers saved, and the guard would go on with theirs; resuming from the
     guard's own capture puts every register back. */
  DWORD64 base = 0;
  const int described = RtlLookupFunctionEntry(pointers->ContextRecord->Rip, &base, NULL) != NULL;
  if (walked && (walk.verdict == WALK_MEETS_HANDLER || (walk.verdict == WALK_REACHES_GUARD && described)))
    return EXCEPTION_CONTINUE_SEARCH;
  record->code = code;
  record->taken = 1;
  *pointers->ContextRecord = record->resume;
  return EXCEPTION_CONTINUE_EXECUTION;
}

#elif defined(__i386__)

/* An exception registration record on the stack, linked into fs:[0]. The
   handler unwinds the handlers above it, unlinks itself and jumps back into
   GuardedSection. The 32-bit dispatcher follows this chain of records, never
   unwind tables, so a plug-in routine without unwind information cannot hide
   the guard from it, and no vectored handler is needed. */
typedef struct GuardFrame {
  struct GuardFrame* prev;
  void* handler;
  void* resume[5];
  volatile DWORD code;
} GuardFrame;

static GuardFrame* ReadChainHead(void) {
  GuardFrame* head;
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
  return head;
}

static void WriteChainHead(GuardFrame* head) {
  __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisherFrame, CONTEXT* context,
                                                  void* dispatcherContext) {
  (void)context;
  (void)dispatcherContext;
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  if (IsPassedOn(record->ExceptionCode)) return ExceptionContinueSearch;
  GuardFrame* frame = (GuardFrame*)establisherFrame;
  frame->code = record->ExceptionCode;
  RtlUnwind(frame, NULL, record, NULL);
  WriteChainHead(frame->prev);
  __builtin_longjmp(frame->resume, 1);
}

__attribute__((noinline)) int GuardedSection(GuardedProc proc, void* context, uint32_t* exceptionCode) {
  GuardFrame frame;
  volatile int completed = 0;
  frame.code = 0;
  frame.handler = (void*)GuardHandler;
  frame.prev = ReadChainHead();
  if (__builtin_setjmp(frame.resume) == 0) {
    WriteChainHead(&frame);
    proc(context);
    WriteChainHead(frame.prev);
    completed = 1;
  }
  if (exceptionCode != NULL) *exceptionCode = completed ? 0 : frame.code;
  return completed;
}

#else
#error "the guard supports x86 and x64 only"
#endif
