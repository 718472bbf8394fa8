#pragma once
// Counts for the one-line summary, and the judgement of one call against its expectation.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "soak_fault.h"

namespace kestova::soak {

struct Tally {
  long calls = 0;
  long pty_calls = 0;  // of which over the pseudo-terminal
  std::array<long, kFaultKindCount> faults{};
  long mismatches = 0;
  long records_checked = 0;
  long boundary_timeouts = 0;  // real-line calls whose deadline fell on a second boundary
  std::chrono::nanoseconds longest_call{0};      // on the test clock (in-memory port)
  std::chrono::nanoseconds longest_pty_call{0};  // in real time

  // Reports one mismatch (the first few in full on standard error).
  void Mismatch(long call, const std::string& what);
  std::string Summary() const;
};

// What a call actually did.
struct Observed {
  std::optional<std::int16_t> result;  // none when a run-time error escaped
  std::string error;                   // its text
  std::vector<std::string> events;
  std::vector<std::string> log_lines;
};

// Compares result, events and log lines. `stamp` is the start timestamp the first log
// line must open with; empty means any well-formed timestamp. Returns the differences.
std::vector<std::string> Compare(const Expectation& expected, const Observed& observed, const std::string& stamp);

}  // namespace kestova::soak
