#include "bench/latency_samples.h"

#include <gtest/gtest.h>

namespace kestova::bench {
namespace {

using std::chrono::microseconds;
using std::chrono::nanoseconds;

LatencySamples OneToHundredMicroseconds() {
  LatencySamples samples;
  // Added out of order: the percentile must not depend on arrival order.
  for (int k = 100; k >= 1; --k) samples.Add(microseconds(k));
  return samples;
}

TEST(LatencySamples, PercentileIsTheNearestRank) {
  const LatencySamples samples = OneToHundredMicroseconds();
  struct Row {
    double fraction;
    microseconds expected;
  };
  const Row rows[] = {{0.99, microseconds(99)}, {0.5, microseconds(50)},
                      {1.0, microseconds(100)}, {0.001, microseconds(1)}};
  for (const Row& row : rows) {
    EXPECT_EQ(samples.Percentile(row.fraction), row.expected) << "fraction " << row.fraction;
  }
}

TEST(LatencySamples, MeanAndRate) {
  LatencySamples samples;
  samples.Add(microseconds(500));
  samples.Add(microseconds(1500));
  EXPECT_EQ(samples.Mean(), microseconds(1000));
  EXPECT_DOUBLE_EQ(samples.PerSecond(), 1000.0);

  LatencySamples baseline;
  baseline.Add(microseconds(800));
  EXPECT_DOUBLE_EQ(MeanRatio(samples, baseline), 1.25);
}

TEST(LatencySamples, EmptyGivesZeroInsteadOfDividingByZero) {
  const LatencySamples empty;
  EXPECT_EQ(empty.Mean(), nanoseconds(0));
  EXPECT_EQ(empty.Percentile(0.99), nanoseconds(0));
  EXPECT_DOUBLE_EQ(empty.PerSecond(), 0.0);
  EXPECT_DOUBLE_EQ(MeanRatio(OneToHundredMicroseconds(), empty), 0.0);
}

}  // namespace
}  // namespace kestova::bench
