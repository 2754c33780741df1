#include "gtest/gtest.h"
#include "base/clock.h"
#include "services/host_services.h"
#include "tests/support/job_scope.h"

namespace {

struct ProgressCall {
  int32_t done;
  int32_t total;
  int calls;
};
ProgressCall gSeen;
int32_t gAnswer = 1;

int32_t RecordingProgress(JobRecord* record, int32_t done, int32_t total) {
  gSeen.done = done;
  gSeen.total = total;
  ++gSeen.calls;
  return gAnswer;
}

}  // namespace

TEST(Progress, AbortStaysSetOnceTheJobHasSaidStop) {
  JobScope scope;
  InstallProgressForwarding(TestCall());
  HostProgress(1, 4);
  EXPECT_EQ(0, HostTestAbort());
  EXPECT_DOUBLE_EQ(0.25, scope.job.progressValue);

  scope.job.abortRequest = 1;
  HostProgress(2, 4);
  EXPECT_NE(0, HostTestAbort()) << "JobProgress answered 0";
  EXPECT_DOUBLE_EQ(0.5, scope.job.progressValue) << "the fraction is stored even when stopping";

  scope.job.abortRequest = 0;
  HostProgress(3, 4);
  EXPECT_NE(0, HostTestAbort()) << "a later 'go on' must not clear the flag within the call";

  PublishJob(&scope.job);  // the next Filter call starts afresh
  EXPECT_EQ(0, HostTestAbort());
}

TEST(Progress, ForwardingPassesValuesUnchangedAndNeedsAJob) {
  JobScope scope;
  InstallProgressForwarding(TestCall());
  scope.job.progress = RecordingProgress;
  gSeen = {};
  gAnswer = 1;
  HostProgress(7, 0);
  EXPECT_EQ(1, gSeen.calls);
  EXPECT_EQ(7, gSeen.done);
  EXPECT_EQ(0, gSeen.total) << "a total of 0 reaches the job as it was given";
  HostProgress(-3, -9);
  EXPECT_EQ(-3, gSeen.done);
  EXPECT_EQ(-9, gSeen.total);
  EXPECT_EQ(0, HostTestAbort());

  // Without a published job, or a job without a callback, progress goes on.
  scope.job.progress = nullptr;
  EXPECT_EQ(1, ForwardProgress(1, 2));
  PublishJob(nullptr);
  EXPECT_EQ(1, ForwardProgress(1, 2));
  HostProgress(1, 2);
  EXPECT_EQ(0, HostTestAbort());
  EXPECT_EQ(2, gSeen.calls);
}

TEST(Cursor, NamesMapToSystemCursors) {
  EXPECT_EQ(32514, SystemCursorForName("Photoshop Cursor Watch"));
  EXPECT_EQ(32650, SystemCursorForName("Photoshop Cursor Watch Continue")) << "not a prefix match";
  EXPECT_EQ(32512, SystemCursorForName("Photoshop Cursor Lasso")) << "unknown names give the arrow";
  EXPECT_EQ(32512, SystemCursorForName("photoshop cursor watch")) << "names compare exactly";
  EXPECT_EQ(0, SystemCursorForName(nullptr)) << "no name hides the cursor";
}

TEST(TickCount, CountsSixtiethsOnTheServerClock) {
  double before = ClockElapsed(0, ClockNow());
  uint32_t ticks = TickCountProc();
  double after = ClockElapsed(0, ClockNow());
  EXPECT_GE(ticks, static_cast<uint32_t>(before * 60.0));
  EXPECT_LE(ticks, static_cast<uint32_t>(after * 60.0));
  EXPECT_LE(ticks, TickCountProc());
}
