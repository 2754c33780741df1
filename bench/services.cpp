// The cost of the host services a plug-in calls in its inner loops.
#include <cstring>
#include <vector>

#include "bench/bench_util.h"
#include "call/job_record.h"
#include "tests/support/call_scope.h"
#include "services/host_services.h"

int main() {
  HandleProcs handles;
  FillHandleProcs(&handles);

  // Handle create and dispose: two global allocations and two guarded frees.
  const int count = 100000;
  double t = BestOf(3, [&] {
    for (int i = 0; i < count; ++i) handles.disposeProc(handles.newProc(64));
  });
  Figure("handle_new_dispose", count / t, "ops/s");

  // Resizing is allocate, copy, free; memcpy of the same bytes is the floor.
  const int32_t mib = 1 << 20;
  Handle h = handles.newProc(mib);
  int32_t size = mib;
  const int resizes = 200;
  double resize = BestOf(3, [&] {
    for (int i = 0; i < resizes; ++i) handles.setSizeProc(h, size = (size == mib ? mib + 64 : mib));
  }) / resizes;
  std::vector<char> a(mib, 1), b(mib);
  double copy = BestOf(5, [&] {
    for (int i = 0; i < resizes; ++i) {
      memcpy(b.data(), a.data(), mib);
      a[i] = b[mib - 1 - i];
    }
  }) / resizes;
  handles.disposeProc(h);
  Figure("handle_resize_1mib", resize * 1e6, "us");
  Figure("memcpy_1mib", copy * 1e6, "us");
  Figure("handle_resize_vs_memcpy", resize / copy, "x");

  // The property reader runs guarded on every call.
  JobRecord job{};
  job.self = &job;
  job.width = 4000;
  PublishJob(&job);
  const int reads = 200000;
  intptr_t value = 0;
  t = BestOf(3, [&] {
    for (int i = 0; i < reads; ++i) HostGetProperty(kHostSignature, FourCC("docW"), 0, &value, nullptr);
  });
  Figure("property_read_simple", reads / t, "calls/s");
  Handle text = nullptr;
  t = BestOf(3, [&] {
    for (int i = 0; i < reads / 10; ++i) {
      HostGetProperty(kHostSignature, FourCC("titl"), 0, nullptr, &text);
      HostDisposeHandle(text);
    }
  });
  Figure("property_read_text", reads / 10 / t, "calls/s");

  // The last row of the suite table: every name before it is compared.
  const void* suite = nullptr;
  t = BestOf(3, [&] {
    for (int i = 0; i < reads; ++i) SPAcquireSuite("Photoshop Resource Suite for Plug-ins", 3, &suite);
  });
  Figure("acquire_suite_last_row", reads / t, "calls/s");

  // Progress reaches JobProgress, which yields the processor every time.
  InstallProgressForwarding(TestCall());
  job.progress = JobProgress;
  const int reports = 100000;
  t = BestOf(3, [&] {
    for (int i = 0; i < reports; ++i) HostProgress(i, reports);
  });
  Figure("progress_report", reports / t, "calls/s");
  PublishJob(nullptr);
  return value == 4000 ? 0 : 1;
}
