// The one structured-exception guard of the server. It takes every exception
// that reaches it except a guard-page violation and a stack overflow, which are
// passed on, and resumes at the return of GuardedSection. On x64 it also takes
// a fault that the system's walk of the stack could never bring to it, from
// code without unwind information, once no handler on the way could.
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GUARD_PASS_GUARD_PAGE 0x80000001u
#define GUARD_PASS_STACK_OVERFLOW 0xC00000FDu

typedef void (*GuardedProc)(void* context);

// Runs proc(context). Answers 1 when it returned, 0 when an exception was
// caught; *exceptionCode (optional) then holds its code, else 0.
int GuardedSection(GuardedProc proc, void* context, uint32_t* exceptionCode);

#ifdef __cplusplus
}

#include <type_traits>

// Runs a callable under the guard. The callable must not own objects with
// destructors: a caught fault leaves its frame without running them.
template <class F>
inline int Guarded(F&& body, uint32_t* exceptionCode = nullptr) {
  using Body = typename std::remove_reference<F>::type;
  return GuardedSection([](void* c) { (*static_cast<Body*>(c))(); }, const_cast<void*>(static_cast<const void*>(&body)),
                        exceptionCode);
}
#endif
