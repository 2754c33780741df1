// Work items shared among worker threads and handed back in item order: the
// tool's batch runs one server per worker and prints each file's outcome in
// the order the files were given.
#pragma once
#include <cstddef>
#include <cstdint>

struct OrderedWork {
  void* context;
  // Once per worker, on its own thread, before it takes items; false: the
  // worker takes none.
  bool (*setUp)(void* context, uint32_t worker);
  // One item on the worker's thread; false: no worker takes further items.
  bool (*run)(void* context, uint32_t worker, size_t item);
  // Once per worker that was set up, on its thread, after its last item.
  void (*tearDown)(void* context, uint32_t worker);
  // On the calling thread, once for each item that ran, in item order, as
  // soon as it and every item before it are done.
  void (*deliver)(void* context, size_t item);
  // On the calling thread about every `idleMs` while it waits; may be null.
  void (*idle)(void* context);
  uint32_t idleMs;
};

// Runs items 0..count-1 on `workers` threads (one worker runs them on the
// calling thread, delivering each as it ends). Items are taken in order, so
// those that ran are always the first ones. Answers how many ran; none when
// no worker could be set up.
size_t RunOrderedWork(const OrderedWork& work, size_t count, uint32_t workers);
