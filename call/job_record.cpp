#include "call/job_record.h"

#include <windows.h>

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "JobWake holds a lock and a condition in a pointer each");

static SRWLOCK* WakeLock(JobWake* wake) { return reinterpret_cast<SRWLOCK*>(&wake->lock); }
static CONDITION_VARIABLE* WakeCondition(JobWake* wake) {
  return reinterpret_cast<CONDITION_VARIABLE*>(&wake->condition);
}

void SignalJobWake(JobWake* wake, bool ended) {
  AcquireSRWLockExclusive(WakeLock(wake));
  ++wake->count;
  if (ended) wake->ended = 1;
  ReleaseSRWLockExclusive(WakeLock(wake));
  WakeAllConditionVariable(WakeCondition(wake));
}

uint32_t JobWakeCount(JobWake* wake) {
  AcquireSRWLockShared(WakeLock(wake));
  const uint32_t count = wake->count;
  ReleaseSRWLockShared(WakeLock(wake));
  return count;
}

bool JobWakeEnded(JobWake* wake) {
  AcquireSRWLockShared(WakeLock(wake));
  const bool ended = wake->ended != 0;
  ReleaseSRWLockShared(WakeLock(wake));
  return ended;
}

void WaitForJobWake(JobWake* wake, uint32_t seen, uint32_t ms) {
  AcquireSRWLockExclusive(WakeLock(wake));
  if (wake->count == seen && wake->ended == 0) SleepConditionVariableSRW(WakeCondition(wake), WakeLock(wake), ms, 0);
  ReleaseSRWLockExclusive(WakeLock(wake));
}

int32_t JobProgress(JobRecord* record, int32_t done, int32_t total) {
  JobRecord* job = record != nullptr ? record->self : nullptr;
  if (job == nullptr) {
    Sleep(0);
    return 1;
  }
  const double value = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
  job->progressValue = value;
  // A plug-in may report every row: the waiter is woken once per step, not per call.
  if (value - job->signalledProgress >= JOB_WAKE_STEP || value < job->signalledProgress) {
    job->signalledProgress = value;
    SignalJobWake(&job->wake, false);
  }
  // A plug-in reporting in a tight loop must not starve the request loop.
  Sleep(0);
  return job->abortRequest == 0 ? 1 : 0;
}

int32_t ImageAccessBegin(JobRecord*) { return 1; }
int32_t ImageAccessEnd(JobRecord*) { return 1; }
int32_t ImageAccessCheck(JobRecord*) { return 1; }
