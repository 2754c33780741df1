#include <cstdlib>

#include "gtest/gtest.h"
#include "tests/reliability/protocol_fuzz.h"

// A seeded run within CI time, in shards that CTest runs side by side, each
// with its own servers and seed; scripts/protocol-fuzz runs longer ones with
// the same client.
constexpr int kShards = 4;

class ProtocolFuzz : public testing::TestWithParam<int> {};

TEST_P(ProtocolFuzz, EveryReplyFollowsTheProtocolAndEveryServerEndsCleanly) {
  const char* countText = getenv("PLUGHOST_FUZZ_REQUESTS");
  const char* seedText = getenv("PLUGHOST_FUZZ_SEED");
  uint64_t requests = (countText != nullptr ? strtoull(countText, nullptr, 10) : 100000) / kShards;
  uint64_t seed = (seedText != nullptr ? strtoull(seedText, nullptr, 10) : 20261208) + GetParam();
  ProtocolFuzzResult r = RunProtocolFuzz(seed, requests);
  printf("protocol fuzz: seed %llu, %llu requests over %llu servers, %llu violations\n",
         static_cast<unsigned long long>(seed), static_cast<unsigned long long>(r.requests),
         static_cast<unsigned long long>(r.sessions), static_cast<unsigned long long>(r.violations));
  EXPECT_EQ(0u, r.violations) << r.firstViolation;
  EXPECT_GE(r.requests, requests);
}

INSTANTIATE_TEST_SUITE_P(Shard, ProtocolFuzz, testing::Range(0, kShards));
