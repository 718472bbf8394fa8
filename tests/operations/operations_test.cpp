// What every operation refuses before it sends, and the name it gives itself in the log,
// on the in-memory port. Accepted calls are recognised by the frame they send (no answer
// comes; Timeout -1 ends them at once; a second passes before each call, so the line left
// by the last time-out is quiet). What an accepted call does to the PLC is proven end to
// end, against the virtual PLC.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "kestova/tarvane.h"
#include "support/raised.h"
#include "support/bytes.h"
#include "support/control_fixture.h"

namespace kestova {
namespace {

using testing::Answer;
using testing::Bytes;

class ArgumentChecks : public testing::ControlFixture {
 protected:
  ArgumentChecks() {
    control_->InitProperties();
    control_->SetTimeout(-1);
    control_->SetPortOpen(true);
  }

  // Runs one call; returns its result and leaves its events and frames for inspection.
  int Call(const std::function<int()>& call) {
    host_.Advance(std::chrono::seconds(1));
    host_.events.clear();
    sent_before_ = port_->outputs().size();
    return call();
  }
  bool Sent() const { return port_->outputs().size() > sent_before_; }
  std::vector<std::uint8_t> LastFrame() const { return port_->outputs().back(); }
  // The request data of the last frame (after command and subcommand).
  std::vector<std::uint8_t> LastRequestData() const {
    auto frame = LastFrame();
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

  std::size_t sent_before_ = 0;
};

// Each method reaches its family (the end-to-end suite calls every one of them); here the
// checks run through the by-family entry points, against limits and texts of the test's own.
struct ReadRow {
  DeviceFamily family;
  const char* name;
  std::int32_t limit;
  bool bits;
  const char* address_message;
};

TEST_F(ArgumentChecks, EveryReadChecksAddressThenPoints) {
  using F = DeviceFamily;
  const ReadRow rows[] = {
      {F::X, "X", 8191, true, "XAddress Invalid"},    {F::Y, "Y", 8191, true, "YAddress Invalid"},
      {F::M, "M", 20000, true, "M Address Invalid"},  {F::B, "B", 12287, true, "B Address Invalid"},
      {F::SB, "SB", 2047, true, "SB Address Invalid"}, {F::SM, "SM", 2047, true, "SM Address Invalid"},
      {F::L, "L", 8191, true, "L Address Invalid"},   {F::F, "F", 8191, true, "F Address Invalid"},
      {F::S, "S", 8191, true, "S Address Invalid"},   {F::D, "D", 20000, false, "D Address Invalid"},
      {F::SD, "SD", 2047, false, "D Address Invalid"}, {F::W, "W", 20000, false, "W Address Invalid"},
      {F::SW, "SW", 2047, false, "SW Address Invalid"}, {F::ZR, "ZR", 64000, false, "ZR Address Invalid"},
  };
  const std::string points_message = "Read Points Invalid, Should be from 1 to 480";
  for (const ReadRow& row : rows) {
    const std::int32_t per_word = row.bits ? 16 : 1;
    const std::int32_t last_start = row.limit - per_word + 1;  // one word ending on the limit
    struct Case {
      std::int32_t start;
      std::int16_t points;
      const char* event;  // nullptr: sent
    } cases[] = {
        {0, 1, nullptr},
        {last_start, 1, nullptr},
        {last_start + 1, 1, row.address_message},
        {row.limit + 1, 1, row.address_message},
        {-1, 1, row.address_message},
        {0, 0, points_message.c_str()},
        {0, -3, points_message.c_str()},
        {0, 481, 481 * per_word - 1 > row.limit ? row.address_message : points_message.c_str()},
    };
    for (const Case& c : cases) {
      const int result = Call([&] { return control_->Read(row.family, c.start, c.points); });
      const std::string where = std::string("Read") + row.name + "(" + std::to_string(c.start) + ", " +
                                std::to_string(c.points) + ")";
      if (c.event == nullptr) {
        EXPECT_TRUE(Sent()) << where;
      } else {
        EXPECT_EQ(result, 1) << where;
        EXPECT_FALSE(Sent()) << where;
        EXPECT_EQ(host_.events, std::vector<std::string>{c.event}) << where;
      }
    }
  }
}

TEST_F(ArgumentChecks, ReadsOverflowWhereTheirArithmeticDoes) {
  EXPECT_EQ(RaisedBy([&] { control_->ReadX(0, 2048); }), ErrorNumber::Overflow);
  EXPECT_EQ(RaisedBy([&] { control_->ReadM(0, -2049); }), ErrorNumber::Overflow);
  EXPECT_EQ(RaisedBy([&] { control_->ReadD(INT32_MAX, 1); }), ErrorNumber::Overflow);
  EXPECT_FALSE(Sent());
  // A word read takes any point count to the points test.
  EXPECT_EQ(Call([&] { return control_->ReadD(0, 2048); }), 1);
}

TEST_F(ArgumentChecks, ReadMHandsItsResultInAVariant) {
  EXPECT_EQ(control_->ReadM(0, 0), Variant(std::int16_t{1}));
  EXPECT_EQ(host_.events, std::vector<std::string>{"Read Points Invalid, Should be from 1 to 480"});
}

// A refused address is a failed write: 1, not 0, with the method's own text; a negative
// one overflows when its bytes are formed.
TEST_F(ArgumentChecks, EveryWordWriteSetAndResetChecksItsLimit) {
  using F = DeviceFamily;
  enum Kind { kWrite, kSet, kReset };
  struct Row {
    const char* name;
    Kind kind;
    F family;
    std::int32_t limit;
    const char* message;
  } rows[] = {
      {"WriteD", kWrite, F::D, 20000, "D Address OverLimit"},
      {"WriteW", kWrite, F::W, 20000, "W Address OverLimit"},
      {"WriteZR", kWrite, F::ZR, 64000, "ZR Address OverLimit"},
      {"SetM", kSet, F::M, 20000, "M Address OverLimit"},
      {"SetY", kSet, F::Y, 8191, " Y Address OverLimit"},
      {"SetB", kSet, F::B, 12287, "B Address OverLimit"},
      {"SetL", kSet, F::L, 8191, "L Address OverLimit, max 8191"},
      {"SetF", kSet, F::F, 8191, "F Address OverLimit, max 8191"},
      {"SetS", kSet, F::S, 8191, "S Address OverLimit, max 8191"},
      {"ResetY", kReset, F::Y, 8191, "Y Address OverLimit"},
      {"ResetM", kReset, F::M, 20000, "M Address OverLimit"},
      {"ResetB", kReset, F::B, 12287, "B Address OverLimit"},
      {"ResetL", kReset, F::L, 8191, "L Address OverLimit, max 8191"},
      {"ResetF", kReset, F::F, 8191, "F Address OverLimit, max 8191"},
      {"ResetS", kReset, F::S, 8191, "S Address OverLimit, max 8191"},
  };
  for (const Row& row : rows) {
    const auto call = [&](std::int32_t address) {
      return int(row.kind == kWrite ? control_->WriteWord(row.family, address, 5)
                                    : control_->SwitchBit(row.family, address, row.kind == kSet));
    };
    Call([&] { return call(row.limit); });
    EXPECT_TRUE(Sent()) << row.name;
    EXPECT_EQ(Call([&] { return call(row.limit + 1); }), 1) << row.name;
    EXPECT_FALSE(Sent()) << row.name;
    EXPECT_EQ(host_.events, std::vector<std::string>{row.message}) << row.name;
    EXPECT_EQ(RaisedBy([&] { call(-1); }), ErrorNumber::Overflow) << row.name;
    EXPECT_FALSE(Sent()) << row.name;
  }
}

TEST_F(ArgumentChecks, ByFamilyEntryPointsTakeOnlyTheirFamilies) {
  EXPECT_EQ(RaisedBy([&] { control_->SwitchBit(DeviceFamily::X, 0, true); }), ErrorNumber::InvalidCall);
  EXPECT_EQ(RaisedBy([&] { control_->WriteWord(DeviceFamily::M, 0, 1); }), ErrorNumber::InvalidCall);
  EXPECT_FALSE(Sent());
}

// The texts of an operation's time-out and error-answer records, and whether its time-out
// counts the seconds (the batch read's does).
TEST_F(ArgumentChecks, EveryOperationNamesItselfInTheLog) {
  const std::vector<std::int16_t> one = {1};
  struct Row {
    const char* name;
    std::function<int()> call;
    const char* timeout_event;
    const char* timeout_record;
    const char* error_record;
  } rows[] = {
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
  for (const Row& row : rows) {
    std::filesystem::remove(host_.log_folder / "20100601.CEL");
    port_->SetResponder(nullptr);
    control_->SetTimeout(-1);
    EXPECT_EQ(Call(row.call), 1) << row.name;
    EXPECT_EQ(host_.events, std::vector<std::string>{row.timeout_event}) << row.name;
    port_->SetResponder([](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
      port.Deliver(Answer(0x4031, {}, false));
    });
    control_->SetTimeout(1);
    EXPECT_EQ(Call(row.call), 0x4031) << row.name;
    const auto lines = host_.LogLines("20100601.CEL");
    ASSERT_GE(lines.size(), 2u) << row.name;
    EXPECT_TRUE(starts_with(lines[0], row.timeout_record)) << row.name << ": " << lines[0];
    EXPECT_TRUE(starts_with(lines[1], row.error_record)) << row.name << ": " << lines[1];
  }
}

TEST_F(ArgumentChecks, BlockWriteChecksInOrder) {
  const std::string points = "Write Points should be from 1 to 480";
  const std::string dimension = "Dimension of data array less then the write points when writing block";
  const std::string numeric = "Device Invalid, What follows D, W or  ZR should be a numeric";
  const std::string prefix = "Device Invalid, Should start with D, W or  ZR";
  std::vector<std::int16_t> ten(10, 7);
  std::vector<std::int16_t> many(480, 0);
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
    const int result = Call([&] {
      return control_->WriteBlock(c.device, c.points, IntegerArray::ZeroBased(*c.data));
    });
    const std::string where = "\"" + c.device + "\" x" + std::to_string(c.points);
    if (c.event.empty()) {
      ASSERT_TRUE(Sent()) << where;
      const auto data = LastRequestData();
      EXPECT_EQ(testing::Spaced({data.begin(), data.begin() + 4}), c.head_hex) << where;
      EXPECT_EQ(data.size(), 6u + 2u * static_cast<std::size_t>(c.points)) << where;
    } else {
      EXPECT_EQ(result, 1) << where;
      EXPECT_FALSE(Sent()) << where;
      EXPECT_EQ(host_.events, std::vector<std::string>{c.event}) << where;
    }
  }
}

TEST_F(ArgumentChecks, BlockWriteRunTimeErrors) {
  std::vector<std::int16_t> two = {1, 2};
  EXPECT_EQ(RaisedBy([&] { control_->WriteBlock("", 1, IntegerArray::ZeroBased(two)); }),
            ErrorNumber::InvalidCall);
  EXPECT_EQ(RaisedBy([&] { control_->WriteBlock("D-1", 1, IntegerArray::ZeroBased(two)); }),
            ErrorNumber::Overflow);
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

TEST_F(ArgumentChecks, RemoteArgumentsGoOutUncheckedButInRange) {
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
}

TEST_F(ArgumentChecks, AHandlerMayOpenThePortAndRetryFromInsideTheEvent) {
  control_->SetPortOpen(false);
  control_->SetTimeout(1);
  port_->SetResponder([](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
    port.Deliver(Answer(0, {}, false));
  });
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
