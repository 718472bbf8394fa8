// Every operation through its named method against a station in memory: what it refuses
// before it sends, its name in the log, what it leaves in the PLC or the image. A second
// passes before each call, so the line left by a time-out is quiet.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "kestova/tarvane.h"
#include "sim/station.h"
#include "support/bytes.h"
#include "support/control_fixture.h"
#include "support/raised.h"

namespace kestova {
namespace {

using testing::Answer;
using testing::Bytes;
using T = Tarvane;

class Operations : public testing::ControlFixture {
 protected:
  Operations() {
    control_->InitProperties();
    control_->SetTimeout(1);
    control_->SetPortOpen(true);
    port_->SetResponder([this](testing::MemoryPort& port, const std::vector<std::uint8_t>& frame) {
      if (auto answer = station_.HandleFrame(frame)) port.Deliver(*answer);
    });
  }

  // Runs one call; returns its result and leaves its events and frames for inspection.
  int Call(const std::function<int()>& call) {
    host_.Advance(std::chrono::seconds(1));
    host_.events.clear();
    sent_before_ = port_->outputs().size();
    return call();
  }
  bool Sent() const { return port_->outputs().size() > sent_before_; }
  // The request data of the last frame (after command and subcommand).
  std::vector<std::uint8_t> LastRequestData() const {
    const auto& frame = port_->outputs().back();
    std::vector<std::uint8_t> body;
    for (std::size_t i = 2; i + 2 < frame.size(); ++i) {
      body.push_back(frame[i]);
      if (frame[i] == 0x10 && i >= 5) ++i;
    }
    return std::vector<std::uint8_t>(body.begin() + 14, body.end());
  }
  ErrorNumber RaisedBy(const std::function<void()>& call) {
    host_.Advance(std::chrono::seconds(1));
    sent_before_ = port_->outputs().size();
    return testing::Raised(call);
  }
  sim::DeviceMemory& plc() { return station_.memory(); }

  sim::Station station_;
  std::size_t sent_before_ = 0;
};

static_assert(static_cast<int>(sim::Family::SW) == static_cast<int>(DeviceFamily::SW));
sim::Family Sim(DeviceFamily family) { return static_cast<sim::Family>(family); }

// A read method with its getter, one word from a start; and a write or switch method.
using ReadCall = int (*)(T&, std::int32_t, std::int16_t);
using GetCall = int (*)(const T&, std::int32_t);
using WriteCall = int (*)(T&, std::int32_t);
template <auto Read>
int ReadBy(T& t, std::int32_t start, std::int16_t points) {
  return int(VariantToInteger(Variant((t.*Read)(start, points))));
}
template <auto Get>
int GetBy(const T& t, std::int32_t index) { return int((t.*Get)(index)); }
template <auto Switch>
int SwitchBy(T& t, std::int32_t address) { return (t.*Switch)(address); }
template <auto Write>
int WriteBy(T& t, std::int32_t address) { return (t.*Write)(address, -21555); }

// Each read checks address then points, against limits and texts of the test's own; one
// word on the family's last accepted start lands in its image, bits least significant
// first (0x8005: bits 0, 2 and 15), with the sum check on for every other row.
TEST_F(Operations, EveryReadChecksAddressThenPointsAndFillsItsImage) {
  using F = DeviceFamily;
  const struct Row {
    F family;
    ReadCall read;
    GetCall get;
    std::int32_t limit;
    const char* address_message;
  } rows[] = {
      {F::X, ReadBy<&T::ReadX>, GetBy<&T::PLCX>, 8191, "XAddress Invalid"},
      {F::Y, ReadBy<&T::ReadY>, GetBy<&T::PLCY>, 8191, "YAddress Invalid"},
      {F::M, ReadBy<&T::ReadM>, GetBy<&T::PLCM>, 20000, "M Address Invalid"},
      {F::B, ReadBy<&T::ReadB>, GetBy<&T::PLCB>, 12287, "B Address Invalid"},
      {F::SB, ReadBy<&T::ReadSB>, GetBy<&T::PLCSB>, 2047, "SB Address Invalid"},
      {F::SM, ReadBy<&T::ReadSM>, GetBy<&T::PLCSM>, 2047, "SM Address Invalid"},
      {F::L, ReadBy<&T::ReadL>, GetBy<&T::PLCL>, 8191, "L Address Invalid"},
      {F::F, ReadBy<&T::ReadF>, GetBy<&T::PLCF>, 8191, "F Address Invalid"},
      {F::S, ReadBy<&T::ReadS>, GetBy<&T::PLCS>, 8191, "S Address Invalid"},
      {F::D, ReadBy<&T::ReadD>, GetBy<&T::PLCD>, 20000, "D Address Invalid"},
      {F::SD, ReadBy<&T::ReadSD>, GetBy<&T::PLCSD>, 2047, "D Address Invalid"},
      {F::W, ReadBy<&T::ReadW>, GetBy<&T::PLCW>, 20000, "W Address Invalid"},
      {F::SW, ReadBy<&T::ReadSW>, GetBy<&T::PLCSW>, 2047, "SW Address Invalid"},
      {F::ZR, ReadBy<&T::ReadZR>, GetBy<&T::PLCZR>, 64000, "ZR Address Invalid"},
  };
  const std::string points_message = "Read Points Invalid, Should be from 1 to 480";
  bool sum_check = false;
  for (const Row& row : rows) {
    SCOPED_TRACE(FactsOf(row.family).name);
    sum_check = !sum_check;
    station_.set_sum_check(sum_check);
    control_->SetSumCheck(sum_check);
    const bool bits = IsBitFamily(row.family);
    const std::int32_t per_word = bits ? 16 : 1;
    const std::int32_t last_start = row.limit - per_word + 1;  // one word ending on the limit
    plc().SetWord(Sim(row.family), last_start, bits ? 0x8005 : 0xABCD);
    EXPECT_EQ(Call([&] { return row.read(*control_, last_start, 1); }), 0);
    EXPECT_TRUE(host_.events.empty());
    for (std::int32_t k = 0; k < per_word; ++k) {
      EXPECT_EQ(row.get(*control_, last_start + k), !bits ? -21555 : k == 0 || k == 2 || k == 15) << k;
    }
    const struct Case {
      std::int32_t start;
      std::int16_t points;
      const char* event;  // nullptr: sent
    } cases[] = {
        {0, 1, nullptr},
        {last_start + 1, 1, row.address_message},
        {row.limit + 1, 1, row.address_message},
        {-1, 1, row.address_message},
        {0, 0, points_message.c_str()},
        {0, -3, points_message.c_str()},
        {0, 481, 481 * per_word - 1 > row.limit ? row.address_message : points_message.c_str()},
    };
    for (const Case& c : cases) {
      const int result = Call([&] { return row.read(*control_, c.start, c.points); });
      SCOPED_TRACE(::testing::Message() << "(" << c.start << ", " << c.points << ")");
      EXPECT_EQ(Sent(), c.event == nullptr);
      if (c.event != nullptr) {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(host_.events, std::vector<std::string>{c.event});
      }
    }
  }
}

TEST_F(Operations, AReadFillsTheImageWordByWordAndOverflowsWhereItsArithmeticDoes) {
  for (int i = 0; i < 10; ++i) plc().SetWord(sim::Family::ZR, 40000 + i, static_cast<std::uint16_t>(0x1010 + i));
  EXPECT_EQ(control_->ReadZR(40000, 10), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(control_->PLCZR(40000 + i), 0x1010 + i);
  EXPECT_EQ(RaisedBy([&] { control_->ReadX(0, 2048); }), ErrorNumber::Overflow);
  EXPECT_EQ(RaisedBy([&] { control_->ReadM(0, -2049); }), ErrorNumber::Overflow);
  EXPECT_EQ(RaisedBy([&] { control_->ReadD(INT32_MAX, 1); }), ErrorNumber::Overflow);
  EXPECT_FALSE(Sent());
  // The by-family entry points take only their families.
  EXPECT_EQ(RaisedBy([&] { control_->SwitchBit(DeviceFamily::X, 0, true); }), ErrorNumber::InvalidCall);
  EXPECT_EQ(RaisedBy([&] { control_->WriteWord(DeviceFamily::M, 0, 1); }), ErrorNumber::InvalidCall);
  EXPECT_FALSE(Sent());
  // A word read takes any point count to the points test; ReadM hands its result back
  // in a Variant.
  EXPECT_EQ(Call([&] { return control_->ReadD(0, 2048); }), 1);
  EXPECT_EQ(control_->ReadM(0, 0), Variant(std::int16_t{1}));
  EXPECT_EQ(host_.events, std::vector<std::string>(2, "Read Points Invalid, Should be from 1 to 480"));
}

// Each write and switch at its limit writes -21555 or switches the bit of its own family
// and no other, by what the PLC holds; one past the limit is a failed call (1, not 0,
// with the method's own text); a negative address overflows when its bytes are formed.
TEST_F(Operations, EveryWordWriteSetAndResetChecksItsLimitAndReachesThePlc) {
  using F = DeviceFamily;
  const struct Row {
    const char* name;
    WriteCall call;
    F family;
    bool on;  // for a switch
    std::int32_t limit;
    const char* message;
  } rows[] = {
      {"WriteD", WriteBy<&T::WriteD>, F::D, false, 20000, "D Address OverLimit"},
      {"WriteW", WriteBy<&T::WriteW>, F::W, false, 20000, "W Address OverLimit"},
      {"WriteZR", WriteBy<&T::WriteZR>, F::ZR, false, 64000, "ZR Address OverLimit"},
      {"SetM", SwitchBy<&T::SetM>, F::M, true, 20000, "M Address OverLimit"},
      {"SetY", SwitchBy<&T::SetY>, F::Y, true, 8191, " Y Address OverLimit"},
      {"SetB", SwitchBy<&T::SetB>, F::B, true, 12287, "B Address OverLimit"},
      {"SetL", SwitchBy<&T::SetL>, F::L, true, 8191, "L Address OverLimit, max 8191"},
      {"SetF", SwitchBy<&T::SetF>, F::F, true, 8191, "F Address OverLimit, max 8191"},
      {"SetS", SwitchBy<&T::SetS>, F::S, true, 8191, "S Address OverLimit, max 8191"},
      {"ResetY", SwitchBy<&T::ResetY>, F::Y, false, 8191, "Y Address OverLimit"},
      {"ResetM", SwitchBy<&T::ResetM>, F::M, false, 20000, "M Address OverLimit"},
      {"ResetB", SwitchBy<&T::ResetB>, F::B, false, 12287, "B Address OverLimit"},
      {"ResetL", SwitchBy<&T::ResetL>, F::L, false, 8191, "L Address OverLimit, max 8191"},
      {"ResetF", SwitchBy<&T::ResetF>, F::F, false, 8191, "F Address OverLimit, max 8191"},
      {"ResetS", SwitchBy<&T::ResetS>, F::S, false, 8191, "S Address OverLimit, max 8191"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool bits = IsBitFamily(row.family);
    // Every bit family starts with the opposite state at this address, where it has one.
    for (const auto& facts : AllDeviceFamilies()) {
      if (facts.bits && row.limit <= facts.limit) plc().SetBit(Sim(facts.family), row.limit, !row.on);
    }
    EXPECT_EQ(Call([&] { return row.call(*control_, row.limit); }), 0);
    EXPECT_TRUE(bits || plc().Word(Sim(row.family), row.limit) == 0xABCD);
    for (const auto& facts : AllDeviceFamilies()) {
      if (!bits || !facts.bits || row.limit > facts.limit) continue;
      EXPECT_EQ(plc().Bit(Sim(facts.family), row.limit), (facts.family == row.family) == row.on) << facts.name;
    }
    EXPECT_EQ(Call([&] { return row.call(*control_, row.limit + 1); }), 1);
    EXPECT_FALSE(Sent());
    EXPECT_EQ(host_.events, std::vector<std::string>{row.message});
    EXPECT_EQ(RaisedBy([&] { row.call(*control_, -1); }), ErrorNumber::Overflow);
    EXPECT_FALSE(Sent());
  }
}

// The texts of an operation's time-out and error-answer records, whether its time-out
// counts the seconds (the batch read's does), and that a line gone away raises through it.
TEST_F(Operations, EveryOperationNamesItselfInTheLog) {
  const std::vector<std::int16_t> one = {1};
  // Name, call, time-out event, time-out record, error-answer record.
  const std::tuple<const char*, std::function<int()>, const char*, const char*, const char*> rows[] = {
      {"ReadD", [&] { return int(control_->ReadD(0, 1)); }, "TimeOut 0 Second", "ReadWord Time Out A8",
       "ReadWord ErroCode=4031DeviceCode = A8"},
      {"ReadX", [&] { return int(control_->ReadX(0, 1)); }, "TimeOut 0 Second", "ReadWord Time Out 9C",
       "ReadWord ErroCode=4031DeviceCode = 9C"},
      {"WriteW", [&] { return int(control_->WriteW(0, 1)); }, "TimeOut", "WriteSingleWord Time Out",
       "WriteSingleWord ErroCode=4031"},
      {"SetL", [&] { return int(control_->SetL(0)); }, "TimeOut", "WriteSingleBit Time Out", "WriteSingleBit ErroCode=4031"},
      {"WriteBlock", [&] { return int(control_->WriteBlock("D0", 1, IntegerArray::ZeroBased(one))); }, "TimeOut",
       "WriteBlock Time Out", "WriteBlock ErroCode=4031"},
      {"RemoteRun", [&] { return int(control_->RemoteRun()); }, "TimeOut", "RemoteRun Time Out", "RemoteRun ErroCode=4031"},
      {"RemoteStop", [&] { return int(control_->RemoteStop()); }, "TimeOut", "WriteSingleBit Time Out",
       "RemoteOperation ErroCode=4031"},
      {"RemoteReset", [&] { return int(control_->RemoteReset()); }, "TimeOut", "WriteSingleBit Time Out",
       "RemoteOperation ErroCode=4031"},
  };
  const auto starts_with = [](const std::string& line, const char* text) {
    return line.size() >= 19 && line.compare(19, std::strlen(text), text) == 0;
  };
  for (const auto& [name, call, timeout_event, timeout_record, error_record] : rows) {
    SCOPED_TRACE(name);
    std::filesystem::remove(host_.log_folder / "20100601.CEL");
    port_->SetResponder(nullptr);
    control_->SetTimeout(-1);
    EXPECT_EQ(Call(call), 1);
    EXPECT_EQ(host_.events, std::vector<std::string>{timeout_event});
    port_->SetResponder([](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
      port.Deliver(Answer(0x4031, {}, false));
    });
    control_->SetTimeout(1);
    EXPECT_EQ(Call(call), 0x4031);
    const auto lines = host_.LogLines("20100601.CEL");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(starts_with(lines[0], timeout_record)) << lines[0];
    EXPECT_TRUE(starts_with(lines[1], error_record)) << lines[1];
    port_->HangUp();
    EXPECT_EQ(RaisedBy([&] { call(); }), ErrorNumber::DeviceIo);
    control_->SetPortOpen(false);
    control_->SetPortOpen(true);
  }
}

TEST_F(Operations, BlockWriteChecksInOrder) {
  const std::string points = "Write Points should be from 1 to 480";
  const std::string dimension = "Dimension of data array less then the write points when writing block";
  const std::string numeric = "Device Invalid, What follows D, W or  ZR should be a numeric";
  const std::string prefix = "Device Invalid, Should start with D, W or  ZR";
  std::vector<std::int16_t> ten(10), many(480);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::int16_t>(i * 0x1010 + 7);
  std::copy_n(many.rbegin(), 10, ten.begin());
  struct Case {
    std::string device;
    std::int16_t points;
    const std::vector<std::int16_t>* data;
    std::string event;     // empty: sent
    std::string head_hex;  // when sent: head device bytes and code
  } cases[] = {
      {"X12", 0, &ten, points, ""},
      {"", 481, &many, points, ""},
      {"D100", 11, &ten, dimension, ""},
      {"D100", 10, &ten, "", "64 00 00 A8"},
      {"X12", 1, &ten, prefix, ""},
      {"Xab", 1, &ten, numeric, ""},
      {"Z100", 1, &ten, prefix, ""},
      {"D", 1, &ten, numeric, ""},
      {"ZR", 1, &ten, numeric, ""},
      {"D1x", 1, &ten, numeric, ""},
      {"D10.5", 1, &ten, numeric, ""},
      {"D1E3", 1, &ten, numeric, ""},
      {" D100", 1, &ten, numeric, ""},
      {"D 100 ", 1, &ten, "", "64 00 00 A8"},
      {"d+7", 1, &ten, "", "07 00 00 A8"},
      {"zr63999", 1, &ten, "", "FF F9 00 B0"},
      {"Zr0", 1, &ten, "", "00 00 00 B0"},
      {"w5", 1, &ten, "", "05 00 00 B4"},
      {"D19521", 480, &many, "", "41 4C 00 A8"},
      {"D19522", 480, &many, "D Address over limit 0 - 20000", ""},
      {"W19522", 480, &many, "W Address over limit 0 - 20000", ""},
      {"ZR63521", 480, &many, "", "21 F8 00 B0"},
      {"ZR63522", 480, &many, "ZR Address over limit, 0 - 64000", ""},
  };
  for (const Case& c : cases) {
    const int result = Call([&] { return control_->WriteBlock(c.device, c.points, IntegerArray::ZeroBased(*c.data)); });
    const std::string where = "\"" + c.device + "\" x" + std::to_string(c.points);
    if (c.event.empty()) {
      ASSERT_TRUE(Sent()) << where;
      const auto data = LastRequestData();
      EXPECT_EQ(testing::Spaced({data.begin(), data.begin() + 4}), c.head_hex) << where;
      // The PLC holds exactly the block, from the head on.
      EXPECT_EQ(result, 0) << where;
      const std::vector<std::uint16_t> block(c.data->begin(), c.data->begin() + c.points);
      EXPECT_EQ(plc().ReadWords(*sim::FamilyFromCode(data[3]), data[0] | data[1] << 8 | data[2] << 16, c.points),
                block) << where;
    } else {
      EXPECT_EQ(result, 1) << where;
      EXPECT_FALSE(Sent()) << where;
      EXPECT_EQ(host_.events, std::vector<std::string>{c.event}) << where;
    }
  }
}

TEST_F(Operations, BlockWriteRunTimeErrors) {
  std::vector<std::int16_t> two = {1, 2};
  EXPECT_EQ(RaisedBy([&] { control_->WriteBlock("", 1, IntegerArray::ZeroBased(two)); }), ErrorNumber::InvalidCall);
  EXPECT_EQ(RaisedBy([&] { control_->WriteBlock("D-1", 1, IntegerArray::ZeroBased(two)); }), ErrorNumber::Overflow);
  EXPECT_EQ(RaisedBy([&] { control_->WriteBlock("D99999999999", 1, IntegerArray::ZeroBased(two)); }),
            ErrorNumber::Overflow);
  // Lower bound 1: index 0 is missing, found when the frame is built.
  const IntegerArray from_one{1, two, 1};
  EXPECT_EQ(RaisedBy([&] { control_->WriteBlock("D0", 2, from_one); }), ErrorNumber::SubscriptOutOfRange);
  EXPECT_FALSE(Sent());
  const IntegerArray two_dimensions{0, two, 2};
  EXPECT_EQ(RaisedBy([&] { control_->WriteBlock("D0", 1, two_dimensions); }), ErrorNumber::SubscriptOutOfRange);
  // ...but only after the port check.
  control_->SetPortOpen(false);
  EXPECT_EQ(Call([&] { return control_->WriteBlock("D0", 2, from_one); }), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"Port not Open"});
}

TEST_F(Operations, RemoteArgumentsGoOutUncheckedButInRange) {
  Call([&] { return control_->RemoteRun(3, 0); });
  EXPECT_EQ(LastRequestData(), Bytes("03 00 00 00"));
  Call([&] { return control_->RemoteRun(1, 2); });
  EXPECT_EQ(LastRequestData(), Bytes("01 00 02 00"));
  Call([&] { return control_->RemoteRun(); });
  EXPECT_EQ(LastRequestData(), Bytes("01 00 01 00"));
  EXPECT_EQ(RaisedBy([&] { control_->RemoteStop(-1); }), ErrorNumber::Overflow);
  EXPECT_FALSE(Sent());
  EXPECT_EQ(RaisedBy([&] { control_->RemoteRun(1, 256); }), ErrorNumber::Overflow);
  EXPECT_FALSE(Sent());
  EXPECT_EQ(RaisedBy([&] { control_->RemoteReset(-5); }), ErrorNumber::Overflow);
  // What each does to the CPU.
  EXPECT_EQ(Call([&] { return control_->RemoteStop(); }), 0);
  EXPECT_EQ(station_.cpu_state(), sim::CpuState::Stop);
  EXPECT_EQ(Call([&] { return control_->RemoteReset(); }), 0);
  EXPECT_EQ(Call([&] { return control_->RemoteRun(); }), 0);
  EXPECT_EQ(station_.cpu_state(), sim::CpuState::Run);
}

TEST_F(Operations, AHandlerMayOpenThePortAndRetryFromInsideTheEvent) {
  control_->SetPortOpen(false);
  int inner_result = -99;
  host_.on_melsec_out = [&](const std::string& text) {
    if (text != "Port not Open") return;
    host_.on_melsec_out = nullptr;
    control_->SetPortOpen(true);
    inner_result = control_->WriteD(1, 2);
  };
  EXPECT_EQ(control_->WriteD(1, 2), 1);
  EXPECT_EQ(inner_result, 0);
  EXPECT_EQ(port_->outputs().size(), 1u);
}

}  // namespace
}  // namespace kestova
