#include "editor/cli/ordered_work.h"

#include <windows.h>

#include <vector>

namespace {

struct Shared {
  const OrderedWork* work;
  size_t count;
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE changed;
  size_t next = 0;       // the next item to take
  bool stopped = false;  // a run answered false
  uint32_t working = 0;  // workers not yet finished
  std::vector<uint8_t> done;
};

struct Worker {
  Shared* shared;
  uint32_t index;
};

// Takes the next item, or answers false when there is none to take.
bool Take(Shared* s, size_t* item) {
  EnterCriticalSection(&s->lock);
  bool taken = !s->stopped && s->next < s->count;
  if (taken) *item = s->next++;
  LeaveCriticalSection(&s->lock);
  return taken;
}

void Finish(Shared* s, size_t item, bool goOn) {
  EnterCriticalSection(&s->lock);
  s->done[item] = 1;
  if (!goOn) s->stopped = true;
  LeaveCriticalSection(&s->lock);
  WakeAllConditionVariable(&s->changed);
}

DWORD WINAPI WorkerMain(void* parameter) {
  Worker* w = static_cast<Worker*>(parameter);
  Shared* s = w->shared;
  const OrderedWork& work = *s->work;
  if (work.setUp(work.context, w->index)) {
    size_t item = 0;
    while (Take(s, &item)) Finish(s, item, work.run(work.context, w->index, item));
    work.tearDown(work.context, w->index);
  }
  EnterCriticalSection(&s->lock);
  --s->working;
  LeaveCriticalSection(&s->lock);
  WakeAllConditionVariable(&s->changed);
  return 0;
}

size_t RunInline(const OrderedWork& work, size_t count) {
  if (!work.setUp(work.context, 0)) return 0;
  size_t item = 0;
  bool goOn = true;
  while (goOn && item < count) {
    goOn = work.run(work.context, 0, item);
    work.deliver(work.context, item++);
  }
  work.tearDown(work.context, 0);
  return item;
}

}  // namespace

size_t RunOrderedWork(const OrderedWork& work, size_t count, uint32_t workers) {
  if (count == 0) return 0;
  if (workers > count) workers = static_cast<uint32_t>(count);
  if (workers > MAXIMUM_WAIT_OBJECTS) workers = MAXIMUM_WAIT_OBJECTS;
  if (workers <= 1) return RunInline(work, count);
  Shared s;
  s.work = &work;
  s.count = count;
  s.done.assign(count, 0);
  InitializeCriticalSection(&s.lock);
  InitializeConditionVariable(&s.changed);
  std::vector<Worker> ws(workers);
  std::vector<HANDLE> threads;
  for (uint32_t i = 0; i < workers; ++i) {
    ws[i] = Worker{&s, i};
    EnterCriticalSection(&s.lock);
    ++s.working;
    LeaveCriticalSection(&s.lock);
    HANDLE t = CreateThread(nullptr, 0, WorkerMain, &ws[i], 0, nullptr);
    if (t != nullptr) {
      threads.push_back(t);
    } else {
      EnterCriticalSection(&s.lock);
      --s.working;
      LeaveCriticalSection(&s.lock);
    }
  }
  // Deliver in order: item k once it is done; the end once no worker is left
  // and every item taken has been delivered.
  const bool idles = work.idle != nullptr && work.idleMs > 0;
  size_t delivered = 0;
  ULONGLONG lastIdle = GetTickCount64();
  EnterCriticalSection(&s.lock);
  for (;;) {
    if (delivered < s.next && s.done[delivered]) {
      LeaveCriticalSection(&s.lock);
      work.deliver(work.context, delivered++);
      EnterCriticalSection(&s.lock);
      continue;
    }
    if (s.working == 0 && delivered >= s.next) break;
    SleepConditionVariableCS(&s.changed, &s.lock, idles ? work.idleMs : INFINITE);
    if (idles && GetTickCount64() - lastIdle >= work.idleMs) {
      LeaveCriticalSection(&s.lock);
      work.idle(work.context);
      lastIdle = GetTickCount64();
      EnterCriticalSection(&s.lock);
    }
  }
  LeaveCriticalSection(&s.lock);
  if (!threads.empty())
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  for (HANDLE t : threads) CloseHandle(t);
  DeleteCriticalSection(&s.lock);
  return delivered;
}
