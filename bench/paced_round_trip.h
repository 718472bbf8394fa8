#pragma once
// Items 3 and 4 of the table: round trips with the virtual PLC writing its answers at the
// line's speed, against the computed wire time, and the process CPU spent meanwhile by
// the blocking wait and by the spinning baseline, measured in alternating blocks.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/cpu_meter.h"
#include "bench/latency_samples.h"

namespace kestova::bench {

struct PacedRow {
  std::string settings;  // "115200,o,8,1"
  std::string transaction;
  std::size_t wire_bytes = 0;  // request and answer
  std::chrono::nanoseconds wire_time{};
  // The same bytes through the same relay and PLC by a bare client: what the rig itself
  // adds to the wire time, with no control in the way.
  LatencySamples floor;
  LatencySamples blocking;
  LatencySamples spinning;
  CpuShare blocking_cpu;
  CpuShare spinning_cpu;
};

struct PacedOptions {
  std::vector<std::string> settings = {"9600,o,8,1", "9600,n,8,1", "115200,o,8,1", "115200,n,8,1"};
  bool sum_check = true;
  // Wall time each (line, transaction, wait) block aims at; at least min_runs each.
  std::chrono::milliseconds block_budget{1500};
  int min_runs = 3;
  int max_runs = 60;
  std::filesystem::path log_folder;
};

// Starts one virtual PLC process per line setting; call it while no other thread runs.
std::vector<PacedRow> MeasurePacedRoundTrips(const PacedOptions& options);

}  // namespace kestova::bench
