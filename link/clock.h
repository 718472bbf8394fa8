#pragma once
// The two clocks the exchange reads. The plain host uses the system clocks; the test
// host's clocks are moved by the tests (and by the in-memory port's waits), so time-outs
// and midnight roll-overs are tested without sleeping.

#include <chrono>
#include <cstdint>

namespace kestova {

// A local wall-clock instant, broken down; nanosecond is the fraction of the second.
struct LocalDateTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::int64_t nanosecond = 0;

  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

using MonotonicTime = std::chrono::steady_clock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime LocalNow() = 0;
  virtual MonotonicTime MonotonicNow() = 0;
};

}  // namespace kestova
