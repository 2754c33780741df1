// For tests of code that runs inside a plug-in call: a published job,
// allocations made to fail, an address that always faults.
#pragma once
#include <windows.h>

#include <cstdint>

#include "call/job_record.h"
#include "base/memory.h"
#include "tests/support/call_scope.h"

// An address whose every access faults: reserved, never committed.
inline void* NoAccessAddress() {
  static void* page = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
  return page;
}

// Publishes a job for the duration of a test, as the Filter call does.
struct JobScope {
  JobRecord job{};
  JobScope() {
    job.self = &job;
    job.progress = JobProgress;
    PublishJob(&job);
  }
  ~JobScope() {
    PublishJob(nullptr);
    SetAllocationFailureAt(0);
  }
};

// Makes the n-th server allocation from now fail, for one test.
struct AllocationFailure {
  explicit AllocationFailure(uint64_t n) { SetAllocationFailureAt(n); }
  ~AllocationFailure() { SetAllocationFailureAt(0); }
};
