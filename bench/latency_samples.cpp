#include "bench/latency_samples.h"

#include <algorithm>
#include <cmath>

namespace kestova::bench {

std::chrono::nanoseconds LatencySamples::Mean() const {
  if (samples_.empty()) return {};
  std::chrono::nanoseconds total{};
  for (const auto sample : samples_) total += sample;
  return total / static_cast<std::int64_t>(samples_.size());
}

std::chrono::nanoseconds LatencySamples::Percentile(double fraction) const {
  if (samples_.empty()) return {};
  std::vector<std::chrono::nanoseconds> sorted = samples_;
  std::sort(sorted.begin(), sorted.end());
  const double rank = std::ceil(fraction * static_cast<double>(sorted.size()));
  const auto index = std::clamp<std::size_t>(static_cast<std::size_t>(rank), 1, sorted.size()) - 1;
  return sorted[index];
}

double LatencySamples::PerSecond() const {
  const auto mean = Mean();
  if (mean <= std::chrono::nanoseconds::zero()) return 0.0;
  return 1e9 / static_cast<double>(mean.count());
}

double MeanRatio(const LatencySamples& ours, const LatencySamples& baseline) {
  const auto base = baseline.Mean();
  if (base <= std::chrono::nanoseconds::zero()) return 0.0;
  return static_cast<double>(ours.Mean().count()) / static_cast<double>(base.count());
}

}  // namespace kestova::bench
