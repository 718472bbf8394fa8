// The virtual PLC over a real pseudo-terminal: each fault, the sum-check wait and pacing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "sim/virtual_plc.h"
#include "support/bytes.h"
#include "support/pty_pair.h"

namespace kestova::sim {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::Join;
using kestova::testing::PtyPair;
using testing::Spaced;
using Clock = std::chrono::steady_clock;

// Reads of one word, D100 and D101, and their answers (no sum check).
const auto kReadD100 = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03");
const auto kAnswerD100 = Bytes("10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 10 03");
const auto kReadD101 = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 65 00 00 A8 01 00 10 03");
const auto kAnswerD101 = Bytes("10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 CD AB 10 03");
const auto kWriteD100 = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03");
const auto kAck = Bytes("10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03");

class VirtualPlcPty : public ::testing::Test {
 protected:
  void SetUp() override { Serve({}); }

  void Serve(VirtualPlc::Options options) {
    line_.reset();
    plc_ = std::make_unique<VirtualPlc>(std::move(options));
    plc_->memory().SetWord(Family::D, 100, 0x1234);
    plc_->memory().SetWord(Family::D, 101, 0xABCD);
    line_ = std::make_unique<PtyPair>(plc_->Start());
  }

  // Sends `request` and waits until the station has taken it.
  void SendAndWait(const std::vector<std::uint8_t>& request) {
    const auto before = plc_->request_count();
    line_->Send(request);
    ASSERT_TRUE(plc_->WaitForRequests(before + 1, 2s));
  }

  std::unique_ptr<VirtualPlc> plc_;
  std::unique_ptr<PtyPair> line_;
};

TEST_F(VirtualPlcPty, AnswersAndRecordsTheRequest) {
  line_->Send(kReadD100);
  EXPECT_EQ(Spaced(line_->Read(kAnswerD100.size(), 2s)), Spaced(kAnswerD100));
  const auto requests = plc_->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, kReadD100);
  EXPECT_EQ(requests[0].command, 0x0401);
  EXPECT_EQ(Spaced(requests[0].data), "64 00 00 A8 01 00");
  EXPECT_TRUE(requests[0].sum_ok);
  plc_->ClearRequests();
  EXPECT_EQ(plc_->request_count(), 0u);
}

TEST_F(VirtualPlcPty, DelayedAnswerComesLate) {
  plc_->InjectFault(Fault::Delay(150ms), 1);
  const auto sent = Clock::now();
  line_->Send(kReadD100);
  EXPECT_EQ(Spaced(line_->Read(kAnswerD100.size(), 2s)), Spaced(kAnswerD100));
  EXPECT_GE(line_->last_byte_at() - sent, 150ms);
}

TEST_F(VirtualPlcPty, ADelayedAnswerIsDroppedByTheNextRequestAndAnUnansweredWriteStillWrites) {
  plc_->InjectFault(Fault::Delay(150ms), 1);
  SendAndWait(kReadD100);
  plc_->InjectFault(Fault::NoAnswer(), 1);
  SendAndWait(kWriteD100);
  EXPECT_EQ(plc_->memory().Word(Family::D, 100), 5);
  line_->Send(kReadD101);
  // Neither the delayed answer (due within 150 ms) nor the write's comes before D101's, or at all.
  EXPECT_EQ(Spaced(line_->Read(kAnswerD101.size(), 2s)), Spaced(kAnswerD101));
  EXPECT_FALSE(plc_->WaitForAnswers(2, 300ms));
  EXPECT_EQ(plc_->answers_sent(), 1u);
}

TEST_F(VirtualPlcPty, DelayedAnswerSentAnywayPrecedesTheNext) {
  plc_->InjectFault(Fault::Delay(100ms, /*send_anyway=*/true), 1);
  SendAndWait(kReadD100);
  line_->Send(kReadD101);
  const auto both = Join(kAnswerD100, kAnswerD101);
  EXPECT_EQ(Spaced(line_->Read(both.size(), 2s)), Spaced(both));
}

TEST_F(VirtualPlcPty, FaultsForTheNextRequestsOnlyAndCombined) {
  const std::vector<std::tuple<const char*, Fault, std::vector<std::uint8_t>>> rows = {
      {"cut after 10 bytes", Fault::Cut(10),
       std::vector<std::uint8_t>(kAnswerD100.begin(), kAnswerD100.begin() + 10)},
      {"cut past the end", Fault::Cut(100), kAnswerD100},
      {"noise before", Fault::NoiseBefore({0x00, 0xFF}), Join(Bytes("00 FF"), kAnswerD100)},
      {"noise after", Fault::NoiseAfter({0x10, 0x02}), Join(kAnswerD100, Bytes("10 02"))},
      {"answer twice", Fault::AnswerTwice(), Join(kAnswerD100, kAnswerD100)},
      {"forced end code", Fault::ForcedEndCode(0x4031),
       Bytes("10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 31 40 10 03")},
      {"bad sum without the sum check changes nothing", Fault::BadSum(), kAnswerD100},
      {"echo of the request", Fault::Echo(), Join(kReadD100, kAnswerD100)},
      {"broken frame before", Fault::BrokenFrame(),
       Join(Bytes("10 02 0C 00 F8 10 41 10 10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 31 40 10 03"), kAnswerD100)},
      // The next answer waits for the XON.
      {"line held after", Fault::Hold(20ms), Join(kAnswerD100, Bytes("13 11"))},
  };
  for (const auto& [name, fault, faulty] : rows) {
    SCOPED_TRACE(name);
    plc_->InjectFault(fault, 1);
    line_->Send(kReadD100);
    line_->Send(kReadD101);  // the fault is for one request: this one is answered plainly
    const auto expected = Join(faulty, kAnswerD101);
    EXPECT_EQ(Spaced(line_->Read(expected.size(), 2s)), Spaced(expected));
  }
}

TEST_F(VirtualPlcPty, ForcedEndCodeWritesNothing) {
  plc_->InjectFault(Fault::ForcedEndCode(0xC051), 1);
  line_->Send(kWriteD100);
  EXPECT_EQ(Spaced(line_->Read(18, 2s)), "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 51 C0 10 03");
  EXPECT_EQ(plc_->memory().Word(Family::D, 100), 0x1234);
}

TEST_F(VirtualPlcPty, TrickledAnswerTakesItsGaps) {
  plc_->InjectFault(Fault::Trickle(5ms), 1);
  const auto sent = Clock::now();
  line_->Send(kWriteD100);
  EXPECT_EQ(Spaced(line_->Read(kAck.size(), 2s)), Spaced(kAck));
  EXPECT_GE(line_->last_byte_at() - sent, 17 * 5ms);  // 18 bytes, 17 gaps
  EXPECT_GT(line_->reads(), 1);
}

TEST_F(VirtualPlcPty, ProbabilityZeroNeverAndOneAlways) {
  plc_->InjectFault(Fault::NoiseBefore({0xEE}), 0.0, 3);
  plc_->InjectFault(Fault::NoiseAfter({0xAA}), 1.0, 3);
  for (int i = 0; i < 3; ++i) line_->Send(kReadD100);
  const auto one = Join(kAnswerD100, Bytes("AA"));
  const auto expected = Join(one, one, one);
  EXPECT_EQ(Spaced(line_->Read(expected.size(), 2s)), Spaced(expected));
  plc_->ClearFaults();
  line_->Send(kReadD100);
  EXPECT_EQ(Spaced(line_->Read(kAnswerD100.size(), 2s)), Spaced(kAnswerD100));
}

// Sum characters that never come are answered as missing after 100 ms; they may come in a
// later write; the bad-sum fault sends wrong ones.
TEST_F(VirtualPlcPty, TheSumCheck) {
  VirtualPlc::Options options;
  options.sum_check = true;
  Serve(options);
  const auto sent = Clock::now();
  line_->Send(kReadD100);  // ends at DLE ETX
  EXPECT_EQ(Spaced(line_->Read(20, 2s)),
            "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 24 7F 10 03 41 36");
  EXPECT_GE(line_->last_byte_at() - sent, 100ms);
  EXPECT_EQ(plc_->requests().at(0).sum_status, SumStatus::Missing);
  const auto read = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03");
  const std::string answer = "10 02 10 10 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 CD AB 10 03 43 ";
  line_->Send(read);
  line_->Send(Bytes("30 43"));
  EXPECT_EQ(Spaced(line_->Read(25, 2s)), answer + "35");
  plc_->InjectFault(Fault::BadSum(), 1);
  line_->Send(Join(read, Bytes("30 43")));
  EXPECT_EQ(Spaced(line_->Read(25, 2s)), answer + "36");
}

TEST(VirtualPlcPacing, LongestReadTakesItsLineTimeAt115200_8O1) {
  VirtualPlc::Options options;
  options.sum_check = true;
  options.paced = true;
  options.settings = "115200,o,8,1";
  VirtualPlc plc(options);
  for (std::int32_t i = 0; i < 480; ++i) plc.memory().SetWord(Family::D, i, 0x0102);
  PtyPair line(plc.Start());

  const auto request = testing::RequestFrame(0x0401, 0x0000, {0x00, 0x00, 0x00, 0xA8, 0xE0, 0x01}, true);
  const auto sent = Clock::now();
  line.Send(request);
  const auto answer = line.Read(980, 3s);
  const auto took = line.last_byte_at() - sent;

  ASSERT_EQ(answer.size(), 980u);
  const auto line_time = 980 * 11 * 1s / 115200.0;  // 93.6 ms
  EXPECT_GE(took, 0.9 * line_time);
  EXPECT_LE(took, 1.5 * line_time);
}

TEST(VirtualPlcLink, LinkPointsAtTheSlaveAndGoesAwayButNeverReplacesARegularFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("kestova-sim-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  VirtualPlc::Options options;
  options.link_path = (dir / "file").string();
  std::ofstream{options.link_path};
  EXPECT_THROW(VirtualPlc(options).Start(), std::system_error);
  EXPECT_TRUE(std::filesystem::is_regular_file(options.link_path));
  const auto link = dir / "plc";
  options.link_path = link.string();
  {
    VirtualPlc plc(options);
    const auto slave = plc.Start();
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), slave);
    PtyPair line(link.string());
    line.Send(kWriteD100);
    EXPECT_EQ(Spaced(line.Read(kAck.size(), 2s)), Spaced(kAck));
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  std::filesystem::remove_all(dir);
}

TEST(VirtualPlcDevice, ServesAGivenDeviceAtABaudRateItCanTake) {
  PtyPair device;
  VirtualPlc::Options options;
  options.device = "/dev/null";
  options.settings = "12345,n,8,1";
  EXPECT_THROW(VirtualPlc(options).Start(), std::invalid_argument);
  options.device = device.slave_path();
  options.settings = "19200,e,8,1";
  VirtualPlc plc(options);
  EXPECT_EQ(plc.Start(), device.slave_path());
  device.Send(kWriteD100);
  EXPECT_EQ(Spaced(device.Read(kAck.size(), 2s)), Spaced(kAck));
  EXPECT_EQ(plc.memory().Word(Family::D, 100), 5);
}

TEST(VirtualPlcLifecycle, StopsWhileAnAnswerIsStillDelayed) {
  VirtualPlc plc;
  PtyPair line(plc.Start());
  plc.InjectFault(Fault::Delay(std::chrono::hours(1)), 1);
  line.Send(kWriteD100);
  ASSERT_TRUE(plc.WaitForRequests(1, 2s));
  const auto before = Clock::now();
  plc.Stop();
  EXPECT_LT(Clock::now() - before, 1s);
  plc.Stop();  // again: nothing left to do
}

}  // namespace
}  // namespace kestova::sim
