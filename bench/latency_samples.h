#pragma once
// Round-trip times of one kind of transaction, and the figures the table shows.

#include <chrono>
#include <cstddef>
#include <vector>

namespace kestova::bench {

class LatencySamples {
 public:
  void Add(std::chrono::nanoseconds sample) { samples_.push_back(sample); }
  std::size_t count() const { return samples_.size(); }

  // Zero when empty.
  std::chrono::nanoseconds Mean() const;
  // Nearest rank: the smallest sample with at least `fraction` of the samples at or
  // below it (0 < fraction <= 1). Zero when empty.
  std::chrono::nanoseconds Percentile(double fraction) const;
  // Transactions per second back to back: one over the mean. Zero when empty.
  double PerSecond() const;

 private:
  std::vector<std::chrono::nanoseconds> samples_;
};

// Mean of `ours` over mean of `baseline`; zero when the baseline has no samples.
double MeanRatio(const LatencySamples& ours, const LatencySamples& baseline);

}  // namespace kestova::bench
