#pragma once
// The share of one core the whole process used over a stretch of wall time.

#include <chrono>

namespace kestova::bench {

struct CpuShare {
  std::chrono::nanoseconds cpu{};   // user + system time of the process
  std::chrono::nanoseconds wall{};  // steady-clock time

  // cpu / wall: 1.0 is one core kept busy throughout. Zero for no wall time.
  double Fraction() const;
};

// Started on construction; Read() gives the share since then.
class ProcessCpuMeter {
 public:
  ProcessCpuMeter();
  CpuShare Read() const;

 private:
  std::chrono::nanoseconds cpu_start_;
  std::chrono::steady_clock::time_point wall_start_;
};

// User + system time of this process so far (getrusage), threads included.
std::chrono::nanoseconds ProcessCpuTime();

}  // namespace kestova::bench
