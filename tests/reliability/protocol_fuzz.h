// A fuzz client for the editor protocol: well-formed conversations mixed with
// malformed requests, every reply checked against the protocol.
#pragma once
#include <cstdint>
#include <string>

struct ProtocolFuzzResult {
  uint64_t requests = 0;
  uint64_t sessions = 0;
  uint64_t violations = 0;
  std::string firstViolation;
};

// Runs `requests` requests from `seed` over as many server sessions as it
// takes, each ending with a quit, a closed pipe or a broken frame.
ProtocolFuzzResult RunProtocolFuzz(uint64_t seed, uint64_t requests);
