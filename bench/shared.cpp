// A 4096 × 4096 image inverted by the sample Invert plug-in with the image in
// a section shared with the server, against the same job through the pipe and
// the same call in this process, in one run; and the server's peak private
// memory for the shared job against the image's bytes.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bench/bench_util.h"
#include "call/job_record.h"
#include "editor/plughost_client.h"
#include "invocation/filter_call.h"

namespace {

constexpr uint32_t kSide = 4096;
constexpr uint32_t kPixelBytes = kSide * kSide * 4;
// Rounds of each kind, the best of each taken, as in the filter benchmark.
constexpr int kRounds = 10;

// Polls with waits until the job has ended.
void WaitForJob(PlughostClient* client) {
  JobStatusRecord status{};
  do {
    std::vector<uint8_t> reply;
    Request(client, REQ_JOB_WAIT, JOB_WAIT_LIMIT_MS, &status, sizeof(status), &reply);
    if (reply.size() != sizeof(status)) return;
    memcpy(&status, reply.data(), sizeof(status));
  } while (status.state == JOB_RUNNING);
}

// The shared job from the start to the fetch (which carries no pixels).
double SharedJob(PlughostClient* client, int64_t index, PlughostSharedImage* image) {
  double t0 = Seconds();
  int64_t status = -1;
  if (!PlughostStartSharedFilter(client, index, START_MODE_PLAIN, nullptr, 0, image, &status) || status != ST_OK)
    return 1e30;
  WaitForJob(client);
  Request(client, REQ_FETCH_IMAGE, 0, nullptr, 0, nullptr);
  return Seconds() - t0;
}

// The same job through the pipe: the image sent, filtered, fetched back.
double PipeJob(PlughostClient* client, int64_t index, std::vector<uint8_t>* block) {
  double t0 = Seconds();
  if (Request(client, REQ_FILTER_START, index, block->data(), static_cast<uint32_t>(block->size()), nullptr) != ST_OK)
    return 1e30;
  WaitForJob(client);
  PlughostReply fetched;
  PlughostSend(client, REQ_FETCH_IMAGE, 0, nullptr, 0);
  PlughostReceiveInto(client, &fetched, block->data(), IMAGE_HEADER_BYTES, block->data() + IMAGE_HEADER_BYTES,
                      kPixelBytes);
  PlughostFreeReply(&fetched);
  return Seconds() - t0;
}

}  // namespace

int main() {
  PlughostSharedImage image;
  if (!PlughostCreateSharedImage(&image, kSide, kSide, 72.0, 72.0)) return 1;
  memset(image.block + IMAGE_HEADER_BYTES, 0x5A, kPixelBytes);
  std::vector<uint8_t> block(IMAGE_HEADER_BYTES + kPixelBytes, 0x5A);
  ImageBlockHeader header{kSide, kSide, 72.0, 72.0};
  memcpy(block.data(), &header, sizeof(header));

  // A fresh server for the shared jobs alone, so that its peak memory is theirs.
  PlughostClient client;
  if (!PlughostStart(&client, BenchServerExe().c_str())) return 1;
  PluginEntry entry{};
  const int64_t invert = PrepareSampleServer(&client, L"Invert", &entry);
  if (invert < 0) return 1;
  double shared = 1e30;
  for (int round = 0; round < kRounds; ++round) shared = std::min(shared, SharedJob(&client, invert, &image));
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof(memory);
  const bool measured = GetProcessMemoryInfo(static_cast<HANDLE>(client.process),
                                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)) &&
                        memory.PeakPagefileUsage > 0;
  // Then the pipe path, in the same server: its own image memory comes after.
  double piped = 1e30;
  for (int round = 0; round < kRounds; ++round) piped = std::min(piped, PipeJob(&client, invert, &block));
  PlughostQuit(&client);
  PlughostWaitExit(&client, 20000, nullptr);
  PlughostClose(&client);
  PlughostFreeSharedImage(&image);

  // The same call in this process, on pixels of its own.
  std::vector<uint8_t> pixels(kPixelBytes, 0x5A);
  JobRecord job{};
  InProcessJob(&job, kSide, kSide, pixels.data(), &entry);
  double call = BestOf(kRounds, [&] { RunFilterCall(&job, &entry); });

  Figure("filter_e2e_shared_4096", shared * 1e3, "ms");
  Figure("filter_e2e_pipe_4096", piped * 1e3, "ms");
  Figure("filter_call_in_process", call * 1e3, "ms");
  Figure("filter_e2e_shared_vs_in_process", shared / call, "x");
  Figure("filter_e2e_shared_vs_pipe", piped / shared, "x");
  // Wine may not report another process's memory; the figure is left out then.
  if (measured)
    Figure("filter_shared_peak_memory_vs_image", static_cast<double>(memory.PeakPagefileUsage) / kPixelBytes, "x");
  return 0;
}
