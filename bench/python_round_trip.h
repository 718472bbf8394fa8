#pragma once
// Item 5 of the table: read("D0", 1) from a Python script through the module, beside
// the same call from C++ (Tarvane::Read, then the image), each against a virtual PLC of
// its own on a pseudo-terminal, serving from a thread of the caller's process; single
// calls alternate in one run.

#include <string>

#include "bench/latency_samples.h"
#include "bench/pty_round_trip.h"

namespace kestova::bench {

struct PythonRoundTrip {
  bool measured = false;
  std::string skipped;  // why not, when not measured
  LatencySamples cpp;
  LatencySamples python;  // timed inside the script, around the call
};

// Runs the script in a child interpreter (posix_spawn, so threads here are no hazard).
// Not measured when the build has no Python module, or the build is sanitized (the
// interpreter would need the sanitizer's runtime preloaded).
PythonRoundTrip MeasurePythonRoundTrip(const PtyRoundTripOptions& options);

}  // namespace kestova::bench
