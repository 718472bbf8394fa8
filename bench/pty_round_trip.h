#pragma once
// Item 2 of the table: round trips over a pseudo-terminal with a PLC that answers at
// once, beside the echo floor measured in the same run, blocks interleaved so a noisy
// neighbour weighs on both alike.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/latency_samples.h"

namespace kestova::bench {

struct PtyRoundTripRow {
  std::string transaction;
  std::size_t request_bytes = 0;
  std::size_t answer_bytes = 0;
  LatencySamples floor;         // the same bytes through a bare client and the echo peer
  LatencySamples control_echo;  // the control against the echo peer: the control's share
  LatencySamples control_plc;   // the control against the virtual PLC
};

struct PtyRoundTripOptions {
  int rounds = 100;    // each round runs one block of every kind for every transaction
  int per_block = 5;   // short blocks: a burst of load from elsewhere hits every kind alike
  std::string settings = "115200,o,8,1";
  bool sum_check = true;
  std::filesystem::path log_folder;
};

// Starts its own virtual PLC and echo peer, each serving from a thread of this process.
std::vector<PtyRoundTripRow> MeasurePtyRoundTrips(const PtyRoundTripOptions& options);

}  // namespace kestova::bench
