#include "call/job_record.h"
#include "gtest/gtest.h"

TEST(JobProgress, StoresTheFractionAndZeroWithoutAPositiveTotal) {
  struct Row {
    int32_t done, total;
    double expected;
  };
  const Row rows[] = {{1, 4, 0.25}, {150, 100, 1.5}, {5, 0, 0.0}, {5, -2, 0.0}, {-3, -9, 0.0}};
  JobRecord job{};
  job.self = &job;
  for (const Row& row : rows) {
    job.progressValue = 0.75;  // sentinel
    EXPECT_EQ(1, JobProgress(&job, row.done, row.total));
    EXPECT_DOUBLE_EQ(row.expected, job.progressValue) << row.done << " of " << row.total;
  }
}

// The record a plug-in passes may be a copy: what counts is the loop's own
// record it points to, which is where the stop request is set.
TEST(JobProgress, AnswersStopOnlyForAJobAskedToStop) {
  EXPECT_EQ(1, JobProgress(nullptr, 1, 2)) << "no job: go on";
  JobRecord job{};
  job.self = &job;
  job.abortRequest = 1;
  JobRecord copy{};
  copy.self = &job;
  EXPECT_EQ(0, JobProgress(&copy, 1, 2));
  EXPECT_DOUBLE_EQ(0.5, job.progressValue);
  EXPECT_DOUBLE_EQ(0.0, copy.progressValue);
  job.abortRequest = 0;
  EXPECT_EQ(1, JobProgress(&copy, 2, 2));
}
