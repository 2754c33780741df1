// The baseline of every later benchmark: the bare cost of the pipe.
#include <cstring>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "editor/plughost_client.h"

int main() {
  PlughostClient client;
  if (!PlughostStart(&client, BenchServerExe().c_str())) {
    fprintf(stderr, "pipe bench: the server did not start\n");
    return 1;
  }
  PlughostReply reply;

  // Round trips of an unknown kind: header out, header back.
  const int trips = 2000;
  double t = BestOf(3, [&] {
    for (int i = 0; i < trips; ++i) {
      PlughostRequest(&client, 5, 0, nullptr, 0, &reply);
      PlughostFreeReply(&reply);
    }
  });
  Figure("pipe_round_trips", trips / t, "req/s");
  Figure("pipe_round_trip_latency", t / trips * 1e6, "us");

  // 64 MiB to the server in one request.
  const uint32_t big = 64u << 20;
  std::vector<uint8_t> payload(big, 0x5A), copy(big);
  double toServer = BestOf(3, [&] {
    PlughostRequest(&client, 5, 0, payload.data(), big, &reply);
    PlughostFreeReply(&reply);
  });
  double memcpyTime = BestOf(5, [&] { memcpy(copy.data(), payload.data(), big); });
  Figure("pipe_to_server_64mib", big / toServer / 1e6, "MB/s");
  Figure("memcpy_64mib", big / memcpyTime / 1e6, "MB/s");
  Figure("pipe_to_server_vs_memcpy", memcpyTime / toServer, "x");

  PlughostQuit(&client);
  PlughostWaitExit(&client, 20000, nullptr);
  PlughostClose(&client);

  // The other way on a bare pipe of the same kind: a thread writes, we read,
  // in pieces as ours do and in one call each way.
  double fromPeer = BarePipeTransfer(payload.data(), copy.data(), big, 3);
  double oneCall = BarePipeTransfer(payload.data(), copy.data(), big, 3, big);
  Figure("pipe_bare_64mib", big / fromPeer / 1e6, "MB/s");
  Figure("pipe_bare_vs_memcpy", memcpyTime / fromPeer, "x");
  Figure("pipe_bare_one_call_64mib", big / oneCall / 1e6, "MB/s");
  Figure("pipe_bare_pieces_vs_one_call", oneCall / fromPeer, "x");
  return 0;
}
