#include "bench/cpu_meter.h"

#include <sys/resource.h>

namespace kestova::bench {
namespace {

std::chrono::nanoseconds FromTimeval(const timeval& t) {
  return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
}

}  // namespace

double CpuShare::Fraction() const {
  if (wall <= std::chrono::nanoseconds::zero()) return 0.0;
  return static_cast<double>(cpu.count()) / static_cast<double>(wall.count());
}

std::chrono::nanoseconds ProcessCpuTime() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return FromTimeval(usage.ru_utime) + FromTimeval(usage.ru_stime);
}

ProcessCpuMeter::ProcessCpuMeter()
    : cpu_start_(ProcessCpuTime()), wall_start_(std::chrono::steady_clock::now()) {}

CpuShare ProcessCpuMeter::Read() const {
  return CpuShare{ProcessCpuTime() - cpu_start_, std::chrono::steady_clock::now() - wall_start_};
}

}  // namespace kestova::bench
