// A job replayed from recorded settings against the same job started the old
// way: Invert on 2048 × 2048 through the real server, from the start request
// to the fetched image, the two kinds of start taking turns in one run.
#include <cstring>
#include <vector>

#include "bench/bench_util.h"
#include "editor/plughost_client.h"
#include "sdk/basic_types.h"
#include "settings/descriptor_bytes.h"
#include "settings/settings_block.h"

namespace {

constexpr uint32_t kSide = 2048;

// Start, poll to the end, fetch: one whole job.
double Job(PlughostClient* c, uint32_t kind, int64_t index, const std::vector<uint8_t>& payload) {
  double t0 = Seconds();
  if (Request(c, kind, index, payload.data(), static_cast<uint32_t>(payload.size()), nullptr) != ST_OK) return 1e30;
  JobStatusRecord status{};
  for (;;) {
    std::vector<uint8_t> reply;
    Request(c, REQ_FILTER_POLL, 0, &status, sizeof(status), &reply);
    memcpy(&status, reply.data(), sizeof(status));
    if (status.state != JOB_RUNNING) break;
    Sleep(1);
  }
  Request(c, REQ_FETCH_IMAGE, 0, nullptr, 0, nullptr);
  return status.state == JOB_DONE ? Seconds() - t0 : 1e30;
}

}  // namespace

int main() {
  const uint32_t pixelBytes = kSide * kSide * 4;
  std::vector<uint8_t> block(IMAGE_HEADER_BYTES + pixelBytes, 0x5A);
  ImageBlockHeader header{kSide, kSide, 72.0, 72.0};
  memcpy(block.data(), &header, sizeof(header));

  // Settings of a usual size: a few values and the plug-in's own bytes.
  RecordedSettings settings;
  settings.name = u"Invert";
  settings.entry = u"PluginMain";
  settings.hasDescriptor = settings.hasParameters = true;
  AppendDescriptorU32(&settings.descriptor, FourCC("Lvls"), DK_INTEGER, 4);
  AppendDescriptorItem(&settings.descriptor, FourCC("Chnl"), DK_TEXT, "RGB", 3);
  AppendDescriptorF64(&settings.descriptor, FourCC("Gmma"), DK_FLOAT, 1.5);
  settings.parameters.assign(200, 'p');
  std::string settingsBlock;
  BuildSettingsBlock(settings, &settingsBlock);
  const uint32_t prefix = PlughostStartExPrefixBytes(static_cast<uint32_t>(settingsBlock.size()));
  std::vector<uint8_t> replay(prefix + block.size());
  PlughostWriteStartExPrefix(replay.data(), START_MODE_REPLAY, settingsBlock.data(),
                             static_cast<uint32_t>(settingsBlock.size()));
  memcpy(replay.data() + prefix, block.data(), block.size());

  PlughostClient client;
  if (!PlughostStart(&client, BenchServerExe().c_str())) return 1;
  PluginEntry entry;
  const int64_t invert = PrepareSampleServer(&client, L"Invert", &entry);
  if (invert < 0) return 1;

  // Taking turns, each first every other round, so that drift on a shared
  // machine falls on both alike.
  double start = 1e30, replayed = 1e30;
  for (int round = 0; round < 10; ++round) {
    double a, b;
    if (round % 2 == 0) {
      a = Job(&client, REQ_FILTER_START, invert, block);
      b = Job(&client, REQ_FILTER_START_EX, invert, replay);
    } else {
      b = Job(&client, REQ_FILTER_START_EX, invert, replay);
      a = Job(&client, REQ_FILTER_START, invert, block);
    }
    if (a < start) start = a;
    if (b < replayed) replayed = b;
  }
  double fetch = BestOf(20, [&] { Request(&client, REQ_FETCH_SETTINGS, 0, nullptr, 0, nullptr); });
  PlughostQuit(&client);
  PlughostWaitExit(&client, 20000, nullptr);
  PlughostClose(&client);

  Figure("filter_start_2048", start * 1e3, "ms");
  Figure("filter_replay_2048", replayed * 1e3, "ms");
  Figure("settings_fetch_request", fetch * 1e3, "ms");
  Figure("filter_replay_vs_start", replayed / start, "x");
  return 0;
}
