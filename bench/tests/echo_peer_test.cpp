// The rig the figures come from: the echo peer with its bare client, and the control
// against both the echo peer and the virtual PLC process with either wait.

#include "bench/echo_peer.h"

#include <gtest/gtest.h>

#include "bench/bench_control.h"
#include "bench/bench_transactions.h"
#include "bench/floor_client.h"
#include "bench/plc_process.h"

namespace kestova::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

class BenchRigTest : public ::testing::Test {
 protected:
  std::filesystem::path log_folder_ =
      std::filesystem::temp_directory_path() / ("kestova-bench-test-" + std::to_string(::getpid()));
  ~BenchRigTest() override { std::filesystem::remove_all(log_folder_); }
};

TEST(EchoPeer, AnswersEachWholeRequestInPiecesOrTogether) {
  EchoPeer peer;
  FloorClient client(peer.slave_path());
  peer.SetExchange(5, Bytes{9, 8, 7});
  client.RoundTrip(Bytes{1, 2}, 0);
  client.RoundTrip(Bytes{3, 4, 5}, 3);
  EXPECT_EQ(client.last_answer(), (Bytes{9, 8, 7}));
  // Two whole requests in one write get two answers.
  client.RoundTrip(Bytes{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}, 6);
  EXPECT_EQ(client.last_answer(), (Bytes{9, 8, 7, 9, 8, 7}));
}


// The floor puts the control's own bytes on the line: the control accepts the echo
// peer's canned answer only when its request has exactly the floor's length.
TEST_F(BenchRigTest, FloorBytesMatchWhatTheControlSends) {
  EchoPeer peer;
  BenchControl control(peer.slave_path(), "115200,o,8,1", true, WaitStyle::Blocking, log_folder_);
  control.SetTimeout(1);
  control.Open();
  for (const BenchTransaction& transaction : StandardTransactions()) {
    const WireExchange wire = WireBytesOf(transaction, true);
    peer.SetExchange(wire.request.size(), wire.answer);
    EXPECT_NO_THROW(control.Run(transaction)) << transaction.name;
  }
}

TEST_F(BenchRigTest, ControlRunsEveryTransactionAgainstTheVirtualPlcWithEitherWait) {
  for (const bool paced : {false, true}) {
    // Paced at the fastest standard rate, so the whole table takes well under a second.
    const std::string settings = paced ? "4000000,o,8,1" : "115200,o,8,1";
    PlcProcess plc(PlcConfig{true, paced, settings});
    for (const WaitStyle wait : {WaitStyle::Blocking, WaitStyle::Spinning}) {
      BenchControl control(plc.path(), settings, true, wait, log_folder_);
      control.SetTimeout(1);
      control.Open();
      for (const BenchTransaction& transaction : StandardTransactions()) {
        EXPECT_NO_THROW(control.Run(transaction)) << transaction.name << (paced ? " paced" : "")
            << (wait == WaitStyle::Spinning ? " spinning" : " blocking");
      }
      control.Close();
    }
  }
}

TEST(PlcProcess, ReportsWhyTheChildCouldNotStart) {
  EXPECT_THROW(PlcProcess(PlcConfig{true, true, "fast,n,8,1"}), std::runtime_error);
}

}  // namespace
}  // namespace kestova::bench
