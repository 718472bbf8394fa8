#include "bench/paced_relay.h"

#include <gtest/gtest.h>

#include "bench/echo_peer.h"
#include "bench/floor_client.h"

namespace kestova::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PacedRelay, RequestReachesTheFarEndAfterItsWireTimeAndTheAnswerComesBack) {
  EchoPeer far_end;
  far_end.SetExchange(10, Bytes{0x10, 0x02, 0x55});
  PacedRelay relay(far_end.slave_path(), "9600,n,8,1");
  FloorClient client(relay.path());

  // Ten 10-bit characters at 9600 baud: the holding time is the behaviour under test, so
  // this wait is real, and short.
  const Bytes request{0x10, 0x02, 0, 0, 0xF8, 0, 0, 0xFF, 0x10, 0x03};
  const auto start = std::chrono::steady_clock::now();
  client.RoundTrip(request, 3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(10'416));
  EXPECT_EQ(client.last_answer(), (Bytes{0x10, 0x02, 0x55}));
}

TEST(PacedRelay, RequestsSentBackToBackQueueOnTheLine) {
  EchoPeer far_end;
  far_end.SetExchange(20, Bytes{0x7E});
  PacedRelay relay(far_end.slave_path(), "9600,n,8,1");
  FloorClient client(relay.path());

  // Two 10-character writes at once: the second cannot start before the first has gone,
  // so the far end has all 20 characters after 20.8 ms, not 10.4.
  const Bytes half{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const auto start = std::chrono::steady_clock::now();
  client.RoundTrip(half, 0);
  client.RoundTrip(half, 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(20'833));
}

TEST(PacedRelay, RefusesSettingsItCannotRead) {
  EchoPeer far_end;
  EXPECT_ANY_THROW(PacedRelay(far_end.slave_path(), "fast,n,8,1"));
}

}  // namespace
}  // namespace kestova::bench
