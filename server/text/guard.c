/* Frame-based exception guard. Kept in C: g++ drops the x64 handler data in a
   function that has C++ cleanups, and the guard must see faults after the
   plug-in's own handlers have had their chance, which a vectored handler does
   not allow. */
#include <windows.h>
#include "server/text/guard.h"

static int IsPassedOn(DWORD code) {
  return code == GUARD_PASS_GUARD_PAGE || code == GUARD_PASS_STACK_OVERFLOW;
}

#if defined(__x86_64__)

/* The innermost active guard of the thread, so the filter knows where to put
   the code. TlsAlloc rather than thread_local: mingw's thread_local allocates
   on first use, which a filter must not do. */
typedef struct GuardRecord {
  struct GuardRecord* outer;
  volatile DWORD code;
} GuardRecord;

static volatile LONG gSlot = (LONG)TLS_OUT_OF_INDEXES;

static DWORD GuardSlot(void) {
  LONG slot = gSlot;
  if (slot != (LONG)TLS_OUT_OF_INDEXES) return (DWORD)slot;
  DWORD fresh = TlsAlloc();
  LONG prior = InterlockedCompareExchange(&gSlot, (LONG)fresh, (LONG)TLS_OUT_OF_INDEXES);
  if (prior != (LONG)TLS_OUT_OF_INDEXES) {
    TlsFree(fresh);
    return (DWORD)prior;
  }
  return fresh;
}

__attribute__((used)) static LONG GuardFilter(EXCEPTION_POINTERS* pointers, void* establisherFrame) {
  (void)establisherFrame;
  DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (IsPassedOn(code)) return EXCEPTION_CONTINUE_SEARCH;
  GuardRecord* record = (GuardRecord*)TlsGetValue((DWORD)gSlot);
  if (record != NULL) record->code = code;
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) int GuardedSection(GuardedProc proc, void* context, uint32_t* exceptionCode) {
  DWORD slot = GuardSlot();
  GuardRecord record;
  record.code = 0;
  record.outer = (GuardRecord*)TlsGetValue(slot);
  TlsSetValue(slot, &record);
  volatile int completed = 0;
  /* A scope-table entry for __C_specific_handler: the stretch between the two
     labels is guarded by GuardFilter and resumes at the end label. */
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
  TlsSetValue(slot, record.outer);
  if (exceptionCode != NULL) *exceptionCode = completed ? 0 : record.code;
  return completed;
}

#elif defined(__i386__)

/* An exception registration record on the stack, linked into fs:[0]. The
   handler unwinds the handlers above it, unlinks itself and jumps back into
   GuardedSection. */
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
