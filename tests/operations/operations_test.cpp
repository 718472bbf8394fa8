// What every operation refuses before it sends, on the in-memory port. Accepted calls
// are recognised by the frame they send (no answer comes; Timeout -1 ends them at once).

#include <gtest/gtest.h>

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
    sent_before_ = port_->outputs().size();
    return testing::Raised(call);
  }

  std::size_t sent_before_ = 0;
};

struct ReadRow {
  const char* name;
  std::function<int(Tarvane&, std::int32_t, std::int16_t)> read;
  std::int32_t limit;
  bool bits;
  const char* address_message;
};

std::vector<ReadRow> ReadRows() {
  auto m = [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(VariantToInteger(t.ReadM(s, p))); };
  return {
      {"ReadX", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadX(s, p)); }, 8191, true, "XAddress Invalid"},
      {"ReadY", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadY(s, p)); }, 8191, true, "YAddress Invalid"},
      {"ReadM", m, 20000, true, "M Address Invalid"},
      {"ReadB", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadB(s, p)); }, 12287, true, "B Address Invalid"},
      {"ReadSB", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadSB(s, p)); }, 2047, true, "SB Address Invalid"},
      {"ReadSM", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadSM(s, p)); }, 2047, true, "SM Address Invalid"},
      {"ReadL", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadL(s, p)); }, 8191, true, "L Address Invalid"},
      {"ReadF", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadF(s, p)); }, 8191, true, "F Address Invalid"},
      {"ReadS", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadS(s, p)); }, 8191, true, "S Address Invalid"},
      {"ReadD", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadD(s, p)); }, 20000, false, "D Address Invalid"},
      {"ReadSD", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadSD(s, p)); }, 2047, false, "D Address Invalid"},
      {"ReadW", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadW(s, p)); }, 20000, false, "W Address Invalid"},
      {"ReadSW", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadSW(s, p)); }, 2047, false, "SW Address Invalid"},
      {"ReadZR", [](Tarvane& t, std::int32_t s, std::int16_t p) { return int(t.ReadZR(s, p)); }, 64000, false, "ZR Address Invalid"},
  };
}

TEST_F(ArgumentChecks, EveryReadChecksAddressThenPoints) {
  const std::string points_message = "Read Points Invalid, Should be from 1 to 480";
  for (const ReadRow& row : ReadRows()) {
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
      const int result = Call([&] { return row.read(*control_, c.start, c.points); });
      const std::string where = std::string(row.name) + "(" + std::to_string(c.start) + ", " +
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

struct BitRow {
  const char* name;
  std::function<int(Tarvane&, std::int32_t)> call;
  std::int32_t limit;
  const char* message;
  std::uint8_t code;
  std::uint8_t on;
};

TEST_F(ArgumentChecks, EverySetAndResetChecksItsLimit) {
  const BitRow rows[] = {
      {"SetM", [](Tarvane& t, std::int32_t a) { return int(t.SetM(a)); }, 20000, "M Address OverLimit", 0x90, 1},
      {"SetY", [](Tarvane& t, std::int32_t a) { return int(t.SetY(a)); }, 8191, " Y Address OverLimit", 0x9D, 1},
      {"SetB", [](Tarvane& t, std::int32_t a) { return int(t.SetB(a)); }, 12287, "B Address OverLimit", 0xA0, 1},
      {"SetL", [](Tarvane& t, std::int32_t a) { return int(t.SetL(a)); }, 8191, "L Address OverLimit, max 8191", 0x92, 1},
      {"SetF", [](Tarvane& t, std::int32_t a) { return int(t.SetF(a)); }, 8191, "F Address OverLimit, max 8191", 0x93, 1},
      {"SetS", [](Tarvane& t, std::int32_t a) { return int(t.SetS(a)); }, 8191, "S Address OverLimit, max 8191", 0x98, 1},
      {"ResetY", [](Tarvane& t, std::int32_t a) { return int(t.ResetY(a)); }, 8191, "Y Address OverLimit", 0x9D, 0},
      {"ResetM", [](Tarvane& t, std::int32_t a) { return int(t.ResetM(a)); }, 20000, "M Address OverLimit", 0x90, 0},
      {"ResetB", [](Tarvane& t, std::int32_t a) { return int(t.ResetB(a)); }, 12287, "B Address OverLimit", 0xA0, 0},
      {"ResetL", [](Tarvane& t, std::int32_t a) { return int(t.ResetL(a)); }, 8191, "L Address OverLimit, max 8191", 0x92, 0},
      {"ResetF", [](Tarvane& t, std::int32_t a) { return int(t.ResetF(a)); }, 8191, "F Address OverLimit, max 8191", 0x93, 0},
      {"ResetS", [](Tarvane& t, std::int32_t a) { return int(t.ResetS(a)); }, 8191, "S Address OverLimit, max 8191", 0x98, 0},
  };
  for (const BitRow& row : rows) {
    Call([&] { return row.call(*control_, row.limit); });
    ASSERT_TRUE(Sent()) << row.name;
    EXPECT_EQ(LastRequestData(), (std::vector<std::uint8_t>{0x01, static_cast<std::uint8_t>(row.limit & 0xFF),
                                                            static_cast<std::uint8_t>(row.limit >> 8), 0x00,
                                                            row.code, row.on}))
        << row.name;
    // A refused address is a failed write: 1, not 0.
    EXPECT_EQ(Call([&] { return row.call(*control_, row.limit + 1); }), 1) << row.name;
    EXPECT_FALSE(Sent()) << row.name;
    EXPECT_EQ(host_.events, std::vector<std::string>{row.message}) << row.name;
    EXPECT_EQ(RaisedBy([&] { row.call(*control_, -1); }), ErrorNumber::Overflow) << row.name;
    EXPECT_FALSE(Sent()) << row.name;
  }
}

TEST_F(ArgumentChecks, WordWritesCheckTheirLimit) {
  struct Row {
    const char* name;
    std::function<int(std::int32_t)> call;
    std::int32_t limit;
    const char* message;
  } rows[] = {
      {"WriteD", [&](std::int32_t a) { return int(control_->WriteD(a, 5)); }, 20000, "D Address OverLimit"},
      {"WriteW", [&](std::int32_t a) { return int(control_->WriteW(a, 5)); }, 20000, "W Address OverLimit"},
      {"WriteZR", [&](std::int32_t a) { return int(control_->WriteZR(a, 5)); }, 64000, "ZR Address OverLimit"},
  };
  for (const Row& row : rows) {
    Call([&] { return row.call(row.limit); });
    EXPECT_TRUE(Sent()) << row.name;
    EXPECT_EQ(Call([&] { return row.call(row.limit + 1); }), 1) << row.name;
    EXPECT_FALSE(Sent()) << row.name;
    EXPECT_EQ(host_.events, std::vector<std::string>{row.message}) << row.name;
    EXPECT_EQ(RaisedBy([&] { row.call(-1); }), ErrorNumber::Overflow) << row.name;
    EXPECT_FALSE(Sent()) << row.name;
  }
  Call([&] { return control_->WriteD(100, -1); });
  EXPECT_EQ(LastRequestData(), Bytes("64 00 00 A8 01 00 FF FF"));
  Call([&] { return control_->WriteD(100, 32767); });
  EXPECT_EQ(LastRequestData(), Bytes("64 00 00 A8 01 00 FF 7F"));
}

TEST_F(ArgumentChecks, ByFamilyEntryPointsTakeOnlyTheirFamilies) {
  EXPECT_EQ(RaisedBy([&] { control_->SwitchBit(DeviceFamily::X, 0, true); }), ErrorNumber::InvalidCall);
  EXPECT_EQ(RaisedBy([&] { control_->WriteWord(DeviceFamily::M, 0, 1); }), ErrorNumber::InvalidCall);
  EXPECT_FALSE(Sent());
  EXPECT_EQ(Call([&] { return control_->SwitchBit(DeviceFamily::Y, 8192, true); }), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{" Y Address OverLimit"});
  Call([&] { return control_->WriteWord(DeviceFamily::ZR, 64000, 1); });
  EXPECT_EQ(LastRequestData(), Bytes("00 FA 00 B0 01 00 01 00"));
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
