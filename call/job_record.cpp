#include "call/job_record.h"

#include <windows.h>

int32_t JobProgress(JobRecord* record, int32_t done, int32_t total) {
  JobRecord* job = record != nullptr ? record->self : nullptr;
  if (job == nullptr) {
    Sleep(0);
    return 1;
  }
  const double value = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
  job->progressValue = value;
  // A plug-in may report every row: the event is set once per step, not per call.
  if (job->wake != nullptr && (value - job->signalledProgress >= JOB_WAKE_STEP || value < job->signalledProgress)) {
    job->signalledProgress = value;
    SetEvent(job->wake);
  }
  // A plug-in reporting in a tight loop must not starve the request loop.
  Sleep(0);
  return job->abortRequest == 0 ? 1 : 0;
}

int32_t ImageAccessBegin(JobRecord*) { return 1; }
int32_t ImageAccessEnd(JobRecord*) { return 1; }
int32_t ImageAccessCheck(JobRecord*) { return 1; }
