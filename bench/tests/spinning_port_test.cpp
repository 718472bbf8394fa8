#include "bench/spinning_port.h"

#include <gtest/gtest.h>

#include "bench/echo_peer.h"
#include "link/platform_port.h"

namespace kestova::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SpinningPortTest : public ::testing::Test {
 protected:
  SpinningPortTest() : port_(MakePlatformSerialPort(peer_.slave_path())) {
    port_.SetPortOpen(true);
  }

  EchoPeer peer_;
  SpinningSerialPort port_;
};

TEST_F(SpinningPortTest, SeesAnAnswerWrittenByAnotherThread) {
  peer_.SetExchange(3, Bytes{0x10, 0x02, 0x7F});
  port_.Output(Bytes{1, 2, 3});
  ASSERT_TRUE(port_.WaitForInput(std::chrono::seconds(5)));
  Bytes received;
  while (received.size() < 3 && port_.WaitForInput(std::chrono::seconds(5))) {
    const Bytes chunk = port_.Input();
    received.insert(received.end(), chunk.begin(), chunk.end());
  }
  EXPECT_EQ(received, (Bytes{0x10, 0x02, 0x7F}));
}

TEST_F(SpinningPortTest, GivesUpAtTheDeadlineWhenNothingArrives) {
  // The deadline itself is what is tested, so this one wait is real time, kept short.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port_.WaitForInput(std::chrono::milliseconds(5)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
}

}  // namespace
}  // namespace kestova::bench
