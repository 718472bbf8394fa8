// Every operation against the virtual PLC on a pseudo-terminal, in real time, with and
// without the sum check: results, events, log lines and the virtual PLC's memory.

#include <gtest/gtest.h>

#include <atomic>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/comm_log.h"
#include "link/platform_port.h"
#include "sim/virtual_plc.h"
#include "support/test_host.h"

namespace kestova {
namespace {

using sim::Family;

class EndToEnd : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    plc_.set_sum_check(GetParam());
    const std::string path = plc_.Start();
    log_folder_ = scratch_.log_folder;
    host_.SetLogFolder(log_folder_);
    host_.AddMelsecOutHandler([this](std::string& text) { events_.push_back(text); });
    control_ = std::make_unique<Tarvane>(host_, MakePlatformSerialPort(path));
    control_->InitProperties();
    control_->SetSumCheck(GetParam());
    control_->SetTimeout(1);
    control_->SetPortOpen(true);
  }

  std::vector<std::string> LogLines() {
    return scratch_.LogLines(LogFileName(host_.LocalNow()));
  }
  std::vector<std::uint8_t> LastRequest() { return plc_.requests().back().raw; }
  std::size_t Requests() { return plc_.request_count(); }

  testing::TestHost scratch_;  // only for its temporary folder and log reading
  std::filesystem::path log_folder_;
  sim::VirtualPlc plc_;
  PlainHost host_;
  std::vector<std::string> events_;
  std::unique_ptr<Tarvane> control_;
};

INSTANTIATE_TEST_SUITE_P(SumCheck, EndToEnd, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row) { return row.param ? "On" : "Off"; });

TEST_P(EndToEnd, WordWrites) {
  EXPECT_EQ(control_->WriteD(100, 5), 0);
  EXPECT_EQ(plc_.memory().Word(Family::D, 100), 5);
  const std::vector<std::uint8_t> image = {0x10, 0x02, 0x00, 0x00, 0xF8, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x01,
                                           0x14, 0x00, 0x00, 0x64, 0x00, 0x00, 0xA8, 0x01, 0x00, 0x05, 0x00, 0x10, 0x03};
  auto expected = image;
  if (GetParam()) expected.insert(expected.end(), {0x32, 0x30});
  EXPECT_EQ(LastRequest(), expected);

  EXPECT_EQ(control_->WriteD(16, 4096), 0);
  EXPECT_EQ(plc_.memory().Word(Family::D, 16), 4096);
  EXPECT_EQ(control_->WriteW(20000, -1), 0);
  EXPECT_EQ(plc_.memory().Word(Family::W, 20000), 0xFFFF);
  EXPECT_EQ(control_->WriteZR(64000, 7), 0);
  EXPECT_EQ(plc_.memory().Word(Family::ZR, 64000), 7);

  const std::size_t before = Requests();
  EXPECT_EQ(control_->WriteD(20001, 5), 1);
  EXPECT_EQ(events_, std::vector<std::string>{"D Address OverLimit"});
  EXPECT_EQ(Requests(), before);
}

TEST_P(EndToEnd, ErrorAnswersAreLoggedWithoutAnEvent) {
  plc_.InjectFault(sim::Fault::ForcedEndCode(0x4031), 1);
  EXPECT_EQ(control_->ResetM(0), 0x4031);
  plc_.InjectFault(sim::Fault::ForcedEndCode(0x8001), 1);
  EXPECT_EQ(control_->WriteD(100, 5), -32767);
  EXPECT_TRUE(events_.empty());
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  const std::string reset_m0 = GetParam() ? "10021300F80000FFFF0300000214010001000000900010034234"
                                          : "10021300F80000FFFF030000021401000100000090001003";
  EXPECT_EQ(lines[0].substr(19), "WriteSingleBit ErroCode=4031" + reset_m0);
  EXPECT_EQ(lines[1].substr(19, 29), "WriteSingleWord ErroCode=8001");
}

TEST_P(EndToEnd, ReadsFillTheImage) {
  plc_.memory().SetWord(Family::D, 100, 0x1234);
  plc_.memory().SetWord(Family::D, 101, 0xABCD);
  EXPECT_EQ(control_->ReadD(100, 2), 0);
  EXPECT_EQ(control_->PLCD(100), 0x1234);
  EXPECT_EQ(control_->PLCD(101), -21555);
  if (GetParam()) {
    const std::vector<std::uint8_t> example = {0x10, 0x02, 0x00, 0x00, 0xF8, 0x00, 0x00, 0xFF, 0xFF,
                                               0x03, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x64, 0x00,
                                               0x00, 0xA8, 0x02, 0x00, 0x10, 0x03, 0x30, 0x43};
    EXPECT_EQ(LastRequest(), example);
  }

  // Data bytes 05 80: X0, X2 and X15.
  plc_.memory().SetWord(Family::X, 0, 0x8005);
  EXPECT_EQ(control_->ReadX(0, 1), 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(control_->PLCX(i), i == 0 || i == 2 || i == 15) << "X" << i;

  // Reads may end on the family's last device.
  plc_.memory().SetBit(Family::X, 8191, true);
  EXPECT_EQ(control_->ReadX(8176, 1), 0);
  EXPECT_TRUE(control_->PLCX(8191));
  plc_.memory().SetWord(Family::D, 20000, 77);
  EXPECT_EQ(control_->ReadD(20000, 1), 0);
  EXPECT_EQ(control_->PLCD(20000), 77);

  for (int i = 0; i < 10; ++i) plc_.memory().SetWord(Family::ZR, 40000 + i, static_cast<std::uint16_t>(0x1010 + i));
  EXPECT_EQ(control_->ReadZR(40000, 10), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(control_->PLCZR(40000 + i), 0x1010 + i);

  plc_.memory().SetWord(Family::M, 0, 0x1010);
  EXPECT_EQ(control_->ReadM(0, 1), Variant(std::int16_t{0}));
  EXPECT_TRUE(control_->PLCM(4));
  EXPECT_TRUE(control_->PLCM(12));
  EXPECT_FALSE(control_->PLCM(0));
  EXPECT_TRUE(events_.empty());
}

TEST_P(EndToEnd, AReadAnsweredWithAnErrorLeavesTheImage) {
  plc_.memory().SetWord(Family::D, 7, 99);
  ASSERT_EQ(control_->ReadD(7, 1), 0);
  plc_.memory().SetWord(Family::D, 7, 100);
  plc_.InjectFault(sim::Fault::ForcedEndCode(0x4031), 1);
  EXPECT_EQ(control_->ReadD(7, 1), 0x4031);
  EXPECT_EQ(control_->PLCD(7), 99);
  EXPECT_TRUE(events_.empty());
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(19, 35), "ReadWord ErroCode=4031DeviceCode = ");
  EXPECT_EQ(lines[0].size() % 14, 0u);
  EXPECT_EQ(lines[1].rfind("InBuffer = 1002", 0), 0u);
}

TEST_P(EndToEnd, BitWrites) {
  EXPECT_EQ(control_->SetM(16), 0);
  EXPECT_TRUE(plc_.memory().Bit(Family::M, 16));
  EXPECT_EQ(control_->SetY(8191), 0);
  EXPECT_TRUE(plc_.memory().Bit(Family::Y, 8191));
  EXPECT_EQ(control_->ResetM(16), 0);
  EXPECT_FALSE(plc_.memory().Bit(Family::M, 16));
}

TEST_P(EndToEnd, BlockWrites) {
  const std::vector<std::int16_t> one_two = {1, 2};
  EXPECT_EQ(control_->WriteBlock("D100", 2, IntegerArray::ZeroBased(one_two)), 0);
  EXPECT_EQ(plc_.memory().Word(Family::D, 100), 1);
  EXPECT_EQ(plc_.memory().Word(Family::D, 101), 2);
  const std::vector<std::int16_t> dle = {0x1010};
  EXPECT_EQ(control_->WriteBlock("ZR16", 1, IntegerArray::ZeroBased(dle)), 0);
  EXPECT_EQ(plc_.memory().Word(Family::ZR, 16), 0x1010);
  std::vector<std::int16_t> many(480);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::int16_t>(i * 0x1010);
  EXPECT_EQ(control_->WriteBlock("W19521", 480, IntegerArray::ZeroBased(many)), 0);
  EXPECT_EQ(plc_.memory().Word(Family::W, 20000), static_cast<std::uint16_t>(479 * 0x1010));
}

TEST_P(EndToEnd, RemoteOperationsSwitchTheCpu) {
  EXPECT_EQ(control_->RemoteStop(), 0);
  EXPECT_EQ(plc_.cpu_state(), sim::CpuState::Stop);
  EXPECT_EQ(control_->RemoteReset(), 0);
  EXPECT_EQ(control_->RemoteRun(), 0);
  EXPECT_EQ(plc_.cpu_state(), sim::CpuState::Run);
}

TEST_P(EndToEnd, TimeOutsRaiseAndLog) {
  control_->SetTimeout(0);
  plc_.InjectFault(sim::Fault::NoAnswer(), 2);
  EXPECT_EQ(control_->RemoteStop(), 1);
  EXPECT_EQ(control_->ReadD(0, 1), 1);
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[0], "TimeOut");
  EXPECT_EQ(events_[1].rfind("TimeOut ", 0), 0u);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(19, 23), "WriteSingleBit Time Out");
  EXPECT_EQ(lines[1].substr(19, 20), "ReadWord Time Out A8");
  // The line is usable again at once.
  EXPECT_EQ(control_->WriteD(1, 1), 0);
}

}  // namespace
}  // namespace kestova
