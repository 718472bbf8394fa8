#pragma once
// The one table: every figure beside its baseline and their ratio, then each target with
// whether this run met it. Markdown, so it can go into the README as printed.

#include <ostream>
#include <string>
#include <vector>

#include "bench/codec_bench.h"
#include "bench/paced_round_trip.h"
#include "bench/pty_round_trip.h"

namespace kestova::bench {

struct BenchReport {
  std::string machine;  // "Intel(R) Xeon(R) Processor, 2 cores"
  CodecFigures codec;
  std::vector<PtyRoundTripRow> pty;
  std::vector<PacedRow> paced;
};

void PrintReport(std::ostream& out, const BenchReport& report);

}  // namespace kestova::bench
