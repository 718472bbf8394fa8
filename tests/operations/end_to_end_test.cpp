// Every operation against the virtual PLC on a pseudo-terminal, with and without the sum
// check, proven by what the PLC holds afterwards or what the control's image holds: the
// device codes and data layouts of all fourteen reads, the word writes, the twelve bit
// switches, the block write and the remote operations. How the exchange times out, logs
// and refuses answers is the link's own suite.

#include <gtest/gtest.h>

#include <functional>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/platform_port.h"
#include "sim/virtual_plc.h"
#include "support/bytes.h"

namespace kestova {
namespace {

using sim::Family;

class EndToEnd : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    plc_.set_sum_check(GetParam());
    const std::string path = plc_.Start();
    host_.AddMelsecOutHandler([this](std::string& text) { events_.push_back(text); });
    control_ = std::make_unique<Tarvane>(host_, MakePlatformSerialPort(path));
    control_->InitProperties();
    control_->SetSumCheck(GetParam());
    control_->SetTimeout(1);
    control_->SetPortOpen(true);
  }
  void TearDown() override { EXPECT_TRUE(events_.empty()); }

  sim::VirtualPlc plc_;
  PlainHost host_;
  std::vector<std::string> events_;
  std::unique_ptr<Tarvane> control_;
};

INSTANTIATE_TEST_SUITE_P(SumCheck, EndToEnd, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row) { return row.param ? "On" : "Off"; });

TEST_P(EndToEnd, ReadDSendsTheWorkedExampleAndStoresBothWords) {
  plc_.memory().SetWord(Family::D, 100, 0x1234);
  plc_.memory().SetWord(Family::D, 101, 0xABCD);
  EXPECT_EQ(control_->ReadD(100, 2), 0);
  EXPECT_EQ(control_->PLCD(100), 0x1234);
  EXPECT_EQ(control_->PLCD(101), -21555);
  EXPECT_EQ(plc_.requests().back().raw,
            testing::RequestFrame(0x0401, 0x0000, testing::Bytes("64 00 00 A8 02 00"), GetParam()));

  for (int i = 0; i < 10; ++i) plc_.memory().SetWord(Family::ZR, 40000 + i, static_cast<std::uint16_t>(0x1010 + i));
  EXPECT_EQ(control_->ReadZR(40000, 10), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(control_->PLCZR(40000 + i), 0x1010 + i);
}

struct ReadRow {
  Family family;
  std::int32_t start;
  std::function<int(Tarvane&, std::int32_t)> read;  // one word from start
  std::function<int(const Tarvane&, std::int32_t)> get;

  // The row of a read method and its getter.
  template <auto Read, auto Get>
  static ReadRow Of(Family family, std::int32_t start) {
    return {family, start,
            [](Tarvane& t, std::int32_t s) { return int(VariantToInteger(Variant((t.*Read)(s, 1)))); },
            [](const Tarvane& t, std::int32_t i) { return int((t.*Get)(i)); }};
  }
};

// One word of each family, read through its own method and seen through its own getter:
// bits 0, 2 and 15 of 0x8005 for a bit family (least significant first), 0xABCD for a
// word family. Several start on the family's last word.
TEST_P(EndToEnd, EveryReadFillsItsImage) {
  using T = Tarvane;
  using Row = ReadRow;
  const Row rows[] = {
      Row::Of<&T::ReadX, &T::PLCX>(Family::X, 8176),       Row::Of<&T::ReadY, &T::PLCY>(Family::Y, 0x1F0),
      Row::Of<&T::ReadM, &T::PLCM>(Family::M, 16),         Row::Of<&T::ReadB, &T::PLCB>(Family::B, 12272),
      Row::Of<&T::ReadSB, &T::PLCSB>(Family::SB, 2032),    Row::Of<&T::ReadSM, &T::PLCSM>(Family::SM, 0),
      Row::Of<&T::ReadL, &T::PLCL>(Family::L, 32),         Row::Of<&T::ReadF, &T::PLCF>(Family::F, 48),
      Row::Of<&T::ReadS, &T::PLCS>(Family::S, 8176),       Row::Of<&T::ReadD, &T::PLCD>(Family::D, 20000),
      Row::Of<&T::ReadSD, &T::PLCSD>(Family::SD, 5),       Row::Of<&T::ReadW, &T::PLCW>(Family::W, 26),
      Row::Of<&T::ReadSW, &T::PLCSW>(Family::SW, 2047),    Row::Of<&T::ReadZR, &T::PLCZR>(Family::ZR, 64000),
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(sim::FamilyName(row.family));
    const bool bits = sim::IsBitFamily(row.family);
    plc_.memory().SetWord(row.family, row.start, bits ? 0x8005 : 0xABCD);
    EXPECT_EQ(row.read(*control_, row.start), 0);
    if (bits) {
      for (int b = 0; b < 16; ++b) {
        EXPECT_EQ(row.get(*control_, row.start + b), b == 0 || b == 2 || b == 15 ? 1 : 0) << "bit " << b;
      }
    } else {
      EXPECT_EQ(row.get(*control_, row.start), -21555);
    }
  }
}

TEST_P(EndToEnd, EveryWordWriteReachesThePlc) {
  EXPECT_EQ(control_->WriteD(100, 5), 0);
  EXPECT_EQ(plc_.memory().Word(Family::D, 100), 5);
  EXPECT_EQ(plc_.requests().back().raw,
            testing::RequestFrame(0x1401, 0x0000, testing::Bytes("64 00 00 A8 01 00 05 00"), GetParam()));
  EXPECT_EQ(control_->WriteD(16, 4096), 0);  // both 0x10 bytes doubled
  EXPECT_EQ(plc_.memory().Word(Family::D, 16), 4096);
  EXPECT_EQ(control_->WriteW(20000, -1), 0);
  EXPECT_EQ(plc_.memory().Word(Family::W, 20000), 0xFFFF);
  EXPECT_EQ(control_->WriteZR(64000, 7), 0);
  EXPECT_EQ(plc_.memory().Word(Family::ZR, 64000), 7);
}

// Each of the twelve methods, at a limit or at an address with a 0x10 byte, switches the
// bit of its own family and no other.
TEST_P(EndToEnd, EverySetAndResetSwitchesThePlcsBit) {
  struct Row {
    const char* name;
    std::int16_t (Tarvane::*call)(std::int32_t);
    Family family;
    std::int32_t address;
    bool on;
  } rows[] = {
      {"SetM", &Tarvane::SetM, Family::M, 16, true},        {"SetY", &Tarvane::SetY, Family::Y, 8191, true},
      {"SetB", &Tarvane::SetB, Family::B, 12287, true},     {"SetL", &Tarvane::SetL, Family::L, 8191, true},
      {"SetF", &Tarvane::SetF, Family::F, 4112, true},      {"SetS", &Tarvane::SetS, Family::S, 8191, true},
      {"ResetY", &Tarvane::ResetY, Family::Y, 0x1F0, false}, {"ResetM", &Tarvane::ResetM, Family::M, 20000, false},
      {"ResetB", &Tarvane::ResetB, Family::B, 16, false},   {"ResetL", &Tarvane::ResetL, Family::L, 5, false},
      {"ResetF", &Tarvane::ResetF, Family::F, 8191, false}, {"ResetS", &Tarvane::ResetS, Family::S, 16, false},
  };
  const Family bit_families[] = {Family::X,  Family::Y, Family::M, Family::B, Family::SM,
                                 Family::SB, Family::L, Family::F, Family::S};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // Every bit family starts with the opposite state at this address, where it has one.
    for (const Family f : bit_families) {
      if (row.address < sim::FamilySize(f)) plc_.memory().SetBit(f, row.address, !row.on);
    }
    EXPECT_EQ(((*control_).*row.call)(row.address), 0);
    for (const Family f : bit_families) {
      if (row.address >= sim::FamilySize(f)) continue;
      EXPECT_EQ(plc_.memory().Bit(f, row.address), f == row.family ? row.on : !row.on) << sim::FamilyName(f);
    }
  }
  // The worked example, with 0x0013 in the byte-count field.
  EXPECT_EQ(control_->ResetM(0), 0);
  EXPECT_EQ(testing::Spaced(plc_.requests().back().raw),
            std::string("10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 00 00 00 90 00 10 03") +
                (GetParam() ? " 42 34" : ""));
}

TEST_P(EndToEnd, BlockWrites) {
  const std::vector<std::int16_t> one_two = {1, 2};
  EXPECT_EQ(control_->WriteBlock("D100", 2, IntegerArray::ZeroBased(one_two)), 0);
  EXPECT_EQ(plc_.memory().ReadWords(Family::D, 100, 2), (std::vector<std::uint16_t>{1, 2}));
  const std::vector<std::int16_t> dle = {0x1010};
  EXPECT_EQ(control_->WriteBlock("ZR16", 1, IntegerArray::ZeroBased(dle)), 0);
  EXPECT_EQ(plc_.memory().Word(Family::ZR, 16), 0x1010);
  std::vector<std::int16_t> many(480);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::int16_t>(i * 0x1010);
  EXPECT_EQ(control_->WriteBlock("W19521", 480, IntegerArray::ZeroBased(many)), 0);
  EXPECT_EQ(plc_.memory().Word(Family::W, 19521), 0);
  EXPECT_EQ(plc_.memory().Word(Family::W, 20000), static_cast<std::uint16_t>(479 * 0x1010));
}

TEST_P(EndToEnd, RemoteOperationsSwitchTheCpu) {
  EXPECT_EQ(control_->RemoteStop(), 0);
  EXPECT_EQ(plc_.cpu_state(), sim::CpuState::Stop);
  EXPECT_EQ(control_->RemoteReset(), 0);
  EXPECT_EQ(control_->RemoteRun(), 0);
  EXPECT_EQ(plc_.cpu_state(), sim::CpuState::Run);
}

}  // namespace
}  // namespace kestova
