#include "bench/line_speed_port.h"

#include <gtest/gtest.h>

#include "support/memory_port.h"
#include "support/test_host.h"

namespace kestova::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LineSpeedPort, HandsTheBytesOnUnchangedAfterTheirWireTime) {
  testing::TestHost host;
  auto memory = std::make_unique<testing::MemoryPort>(host);
  testing::MemoryPort& far_end = *memory;
  LineSpeedPort port(std::move(memory));
  port.SetSettings("9600,n,8,1");
  port.SetPortOpen(true);

  // Ten 10-bit characters at 9600 baud: the holding time is the behaviour under test,
  // so this wait is real, and short.
  const Bytes request{0x10, 0x02, 0, 0, 0xF8, 0, 0, 0xFF, 0x10, 0x03};
  const auto start = std::chrono::steady_clock::now();
  port.Output(request);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(10'416));
  ASSERT_EQ(far_end.outputs().size(), 1u);
  EXPECT_EQ(far_end.outputs().front(), request);
}

}  // namespace
}  // namespace kestova::bench
