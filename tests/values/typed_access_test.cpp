// Typed reads and writes through the control against the virtual PLC: what lands in its
// memory word by word, what comes back, and what is refused before anything is sent.

#include <gtest/gtest.h>

#include <functional>

#include "control/plain_host.h"
#include "link/platform_port.h"
#include "sim/virtual_plc.h"
#include "values/typed_access.h"
#include "values/value_error.h"

namespace kestova {
namespace {

using sim::Family;

class TypedAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = plc_.Start();
    host_.AddMelsecOutHandler([this](std::string& text) { events_.push_back(text); });
    control_ = std::make_unique<Tarvane>(host_, MakePlatformSerialPort(path));
    control_->InitProperties();
    control_->SetTimeout(1);
    control_->SetPortOpen(true);
    access_ = std::make_unique<TypedAccess>(*control_);
  }
  std::vector<std::uint16_t> Memory(Family f, std::int32_t head, std::int32_t n) { return plc_.memory().ReadWords(f, head, n); }

  sim::VirtualPlc plc_;
  PlainHost host_;
  std::vector<std::string> events_;
  std::unique_ptr<Tarvane> control_;
  std::unique_ptr<TypedAccess> access_;
};

TEST_F(TypedAccessTest, WritesLandAsTheirWordsAndReadBack) {
  const double floats[] = {3.5, -1.0};
  ASSERT_EQ(access_->WriteFloat("D200", floats), 0);
  EXPECT_EQ(Memory(Family::D, 200, 4), (std::vector<std::uint16_t>{0x0000, 0x4060, 0x0000, 0xBF80}));
  std::vector<float> f;
  ASSERT_EQ(access_->ReadFloat("D200", 2, f), 0);
  EXPECT_EQ(f, (std::vector<float>{3.5f, -1.0f}));

  // W is hexadecimal to the PLC: W1A is W26, though the block write's text is decimal.
  const std::int64_t int32s[] = {-2, 0x12345678};
  ASSERT_EQ(access_->WriteInt32("W1A", int32s), 0);
  EXPECT_EQ(Memory(Family::W, 26, 4), (std::vector<std::uint16_t>{0xFFFE, 0xFFFF, 0x5678, 0x1234}));
  std::vector<std::uint32_t> u32;
  ASSERT_EQ(access_->ReadUInt32("w1a", 2, u32), 0);
  EXPECT_EQ(u32, (std::vector<std::uint32_t>{0xFFFFFFFE, 0x12345678}));

  const std::int64_t words[] = {65535, 0x8000};
  ASSERT_EQ(access_->WriteUInt16("ZR40000", words), 0);
  std::vector<std::int16_t> i16;
  ASSERT_EQ(access_->ReadInt16("ZR40000", 2, i16), 0);
  EXPECT_EQ(i16, (std::vector<std::int16_t>{-1, -32768}));
  bool bit = false;
  ASSERT_EQ(access_->ReadBit("ZR40001.F", bit), 0);
  EXPECT_TRUE(bit);

  plc_.memory().SetWord(Family::D, 12, 0x4545);
  ASSERT_EQ(access_->WriteText("D10", "ABC"), 0);  // no terminator: D12 keeps its word
  EXPECT_EQ(Memory(Family::D, 10, 3), (std::vector<std::uint16_t>{0x4241, 0x0043, 0x4545}));
  std::string text;
  ASSERT_EQ(access_->ReadText("D10", 6, text), 0);
  EXPECT_EQ(text, "ABC");

  // The control's own refusal: its result and event, and nothing in `out`.
  std::vector<std::int32_t> out{7};
  EXPECT_EQ(access_->ReadInt32("D20000", 1, out), 1);  // its second word is past D20000
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(events_, std::vector<std::string>{"D Address Invalid"});
}

TEST_F(TypedAccessTest, RefusedValuesSendNothing) {
  TypedAccess& a = *access_;
  const std::int64_t big[] = {70000};
  const std::vector<std::int64_t> many(241, 1);
  std::vector<std::int16_t> i16;
  std::string s;
  bool b = false;
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"70000 as int16", [&] { a.WriteInt16("D0", big); }}, {"no values", [&] { a.WriteUInt16("D0", {}); }},
      {"241 int32 values", [&] { a.WriteInt32("D0", many); }},
      {"finite beyond float", [&] { const double v[] = {1e39}; a.WriteFloat("D0", v); }},
      {"non-ASCII text", [&] { a.WriteText("D0", "\xFF"); }},
      {"241 uint32 read", [&] { std::vector<std::uint32_t> u; a.ReadUInt32("D0", 241, u); }},
      {"zero count", [&] { a.ReadInt16("D0", 0, i16); }}, {"text of 961", [&] { a.ReadText("D0", 961, s); }},
      {"family M", [&] { a.ReadInt16("M0", 1, i16); }}, {"family SD", [&] { a.ReadInt16("SD0", 1, i16); }},
      {"unreadable device", [&] { a.ReadInt16("Q0", 1, i16); }}, {"no bit", [&] { a.ReadBit("D0", b); }},
      {"bit on a value", [&] { a.ReadInt16("D0.1", 1, i16); }},
  };
  for (const auto& [name, call] : rows) {
    SCOPED_TRACE(name);
    EXPECT_THROW(call(), ValueError);
  }
  EXPECT_EQ(plc_.request_count(), 0u);
  EXPECT_TRUE(events_.empty());
}

}  // namespace
}  // namespace kestova
