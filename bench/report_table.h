#pragma once
// The report: one summary table with every headline figure beside its baseline, their
// ratio, the target and whether this run met it, then one table of detail per item.
// Markdown, so it can go into the README as printed.

#include <ostream>
#include <string>
#include <vector>

#include "bench/codec_bench.h"
#include "bench/paced_round_trip.h"
#include "bench/pty_round_trip.h"
#include "bench/python_round_trip.h"
#include "bench/syscall_count.h"

namespace kestova::bench {

struct BenchReport {
  std::string machine;  // "Intel(R) Xeon(R) Processor, 2 cores"
  CodecFigures codec;
  std::vector<PtyRoundTripRow> pty;
  std::vector<SyscallCounts> syscalls;  // empty when not counted
  std::vector<PacedRow> paced;
  PythonRoundTrip python;
};

void PrintReport(std::ostream& out, const BenchReport& report);

}  // namespace kestova::bench
