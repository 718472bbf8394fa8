// The station alone: hand-written request frames in, exact answer bytes out.
#include "sim/station.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/end_codes.h"
#include "sim/frame_decoder.h"
#include "support/bytes.h"

namespace kestova::sim {
namespace {

using testing::Bytes;
using testing::Spaced;

// Memory every row starts from.
void Arrange(Station& station) {
  auto& m = station.memory();
  m.SetWord(Family::D, 100, 0x1234);
  m.SetWord(Family::D, 101, 0xABCD);
  m.SetWord(Family::ZR, 16, 0x1010);
  for (const int x : {0, 2, 15}) m.SetBit(Family::X, x, true);
  for (const int bit : {0, 5, 6, 16, 20, 31}) m.SetBit(Family::M, bit, true);
  m.SetWord(Family::D, 0, 7);
  m.SetWord(Family::D, 10000, 9);
  m.SetBit(Family::L, 3, true);
  m.SetBit(Family::Y, 1, true);
  m.SetWord(Family::SD, 5, 42);
}

// A frame as written in a row: raw wire bytes ("10 02 ..."), or "CMD SUB data" for a
// request and "END data" for an answer (four-digit numbers in hex) with the default
// routing and the row's sum check.
std::vector<std::uint8_t> Wire(const std::string& text, bool request, bool sum_check) {
  if (text.find(' ') == 2) return Bytes(text);
  std::istringstream in(text);
  std::string first, sub;
  in >> first;
  if (request) in >> sub;
  std::string rest;
  std::getline(in, rest);
  const auto number = [](const std::string& hex) { return static_cast<std::uint16_t>(std::stoul(hex, nullptr, 16)); };
  return request ? testing::RequestFrame(number(first), number(sub), Bytes(rest), sum_check)
                 : testing::Answer(number(first), Bytes(rest), sum_check);
}

struct Row {
  const char* name;
  bool sum_check;
  const char* request;
  const char* answer;  // "" when the station must stay silent
  CpuState cpu_before = CpuState::Run;
  const char* after = "";  // what the station holds then, as ExpectState reads it
};

// "cpu=Run D0=0 Y1=1": the CPU's state, words (decimal or 0x) and bits (families before D).
void ExpectState(const Station& s, const std::string& text) {
  std::istringstream in(text);
  for (std::string item; in >> item;) {
    SCOPED_TRACE(item);
    const auto digits = item.find_first_of("0123456789"), eq = item.find('=');
    const std::string value = item.substr(eq + 1);
    if (item.rfind("cpu=", 0) == 0) {
      EXPECT_EQ(s.cpu_state(), value == "Run" ? CpuState::Run : CpuState::Stop);
      continue;
    }
    const Family family = FamilyFromName(item.substr(0, digits)).value();
    const int index = std::stoi(item.substr(digits, eq - digits)), expected = std::stoi(value, nullptr, 0);
    EXPECT_EQ(family < Family::D ? int{s.memory().Bit(family, index)} : int{s.memory().Word(family, index)}, expected);
  }
}

// Reads, writes and remote operations the control's end-to-end tests do not make, and
// every refusal.
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"read M5 x1 (head not a multiple of 16)", true, "0401 0000 05 00 00 90 01 00", "0000 03 88"},
      {"routing echoed, PC 0x10 doubled both ways", true,
       "10 02 00 00 F8 05 01 10 10 FF 03 02 00 01 04 00 00 64 00 00 A8 01 00 10 03 32 34",
       "10 02 0E 00 F8 05 01 10 10 FF 03 02 00 FF FF 00 00 34 12 10 03 36 34"},
      {"set Y7, reset X2 in one request", true, "1402 0001 02 07 00 00 9D 01 02 00 00 9C 00", "0000", CpuState::Run,
       "Y7=1 X2=0"},
      {"remote RUN 1,1 clears outside the latch range", true, "1001 0000 01 00 01 00", "0000", CpuState::Stop,
       "cpu=Run D0=0 Y1=0 D10000=9 L3=1 X0=1 SD5=42 ZR16=0x1010"},
      {"remote RUN 3,2 clears the latch range too", true, "1001 0000 03 00 02 00", "0000", CpuState::Stop,
       "cpu=Run D10000=0 L3=0 X0=1"},
      {"remote RUN 1,0 keeps memory", true, "1001 0000 01 00 00 00", "0000", CpuState::Stop, "cpu=Run D0=7"},
      {"remote RESET 1 while stopped", true, "1006 0000 01 00", "0000", CpuState::Stop,
       "cpu=Stop D0=0 D10000=9"},
      {"remote RESET 1 while running is refused (0x4010, low byte doubled)", true, "1006 0000 01 00", "4010",
       CpuState::Run, "cpu=Run D0=7"},
      // Command errors.
      {"unknown command 0x0619", true, "0619 0000 00 00", "7E40"},
      {"read with subcommand 0x0001", true, "0401 0001 64 00 00 A8 01 00", "7E40"},
      {"bit write with subcommand 0x0000", true, "1402 0000 01 00 00 00 90 00", "7E40", CpuState::Run, "M0=1"},
      // Data errors.
      {"read with short data", true, "0401 0000 64 00 00 A8 01", "7E41"},
      {"remote RUN mode 2", true, "1001 0000 02 00 01 00", "7E41", CpuState::Stop, "cpu=Stop"},
      {"remote RUN clear mode 3", true, "1001 0000 01 00 03 00", "7E41", CpuState::Stop, "D0=7"},
      {"remote STOP mode 3", true, "1002 0000 03 00", "7E41"},
      {"bit write ON/OFF byte 2", true, "1402 0001 01 00 00 00 90 02", "7E41"},
      // Data count errors.
      {"read 0 points", true, "0401 0000 64 00 00 A8 00 00", "7E42"},
      {"read 481 points", true, "0401 0000 64 00 00 A8 E1 01", "7E42"},
      {"write 2 points with 1 word of data", true, "1401 0000 64 00 00 A8 02 00 05 00", "7E42", CpuState::Run,
       "D100=0x1234"},
      {"bit write 0 points", true, "1402 0001 00", "7E42"},
      // Device errors.
      {"read unknown device code 0x00", true, "0401 0000 64 00 00 00 01 00", "7E43"},
      {"read D20479 x2 (past the end)", true, "0401 0000 FF 4F 00 A8 02 00", "7E43"},
      {"read X8180 x1 (bits past the end)", true, "0401 0000 F4 1F 00 9C 01 00", "7E43"},
      {"write ZR 0x010000 (third head byte)", true, "1401 0000 00 00 01 B0 01 00 05 00", "7E43"},
      {"bit write to D (a word family)", true, "1402 0001 01 00 00 00 A8 01", "7E43"},
      {"bit write M20480 (past the end) after a good point writes nothing", true,
       "1402 0001 02 07 00 00 9D 01 00 50 00 90 01", "7E43", CpuState::Run, "Y7=0"},
      // Sum check and framing.
      {"sum characters wrong", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03 32 31", "7F24", CpuState::Run,
       "D100=0x1234"},
      {"sum characters not hex", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30 47", "7F24"},
      {"sum characters missing", true, "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03",
       "7F24"},
      {"sum check off: bytes after DLE ETX are noise", false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03 30 43 55", "0000 34 12"},
      {"noise before DLE STX is skipped", false,
       "00 10 41 03 10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03", "0000 34 12"},
      {"count field value is ignored", false,
       "10 02 34 12 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03", "0000 34 12"},
      {"DLE then another byte drops the frame; the next is read", false,
       "10 02 00 00 F8 00 10 05 00 10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03",
       "0000 34 12"},
      {"DLE STX inside a frame starts a new one", false,
       "10 02 00 00 F8 00 00 FF 10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03",
       "0000 34 12"},
      {"frame shorter than the header is not answered", true, "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 10 03 30 46",
       ""},
      {"frame ID other than 0xF8 is not answered", false,
       "10 02 00 00 F9 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03", ""},
      {"unterminated frame is not answered", false, "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00",
       ""},
  };
  return rows;
}

TEST(StationTable, AnswersEachRequestExactly) {
  for (const auto& row : Rows()) {
    SCOPED_TRACE(row.name);
    Station station;
    Arrange(station);
    station.set_sum_check(row.sum_check);
    station.set_cpu_state(row.cpu_before);
    const auto answer = station.HandleFrame(Wire(row.request, true, row.sum_check));
    if (std::string(row.answer).empty()) {
      EXPECT_FALSE(answer.has_value()) << "answered " << Spaced(*answer);
    } else {
      ASSERT_TRUE(answer.has_value());
      EXPECT_EQ(Spaced(*answer), Spaced(Wire(row.answer, false, row.sum_check)));
    }
    ExpectState(station, row.after);
  }
}

// Every request the decoder completes on `wire`.
std::vector<ReceivedRequest> Feed(FrameDecoder& decoder, const std::vector<std::uint8_t>& wire) {
  std::vector<ReceivedRequest> done;
  for (const auto byte : wire)
    if (auto request = decoder.Feed(byte)) done.push_back(*request);
  return done;
}

const auto kReadTwo = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03");

TEST(FrameDecoder, NextFrameInPlaceOfTheSumIsStillRead) {
  FrameDecoder decoder(true);
  const auto done = Feed(decoder, testing::Join(kReadTwo, kReadTwo, Bytes("30 43")));
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].sum_status, SumStatus::Missing);
  EXPECT_EQ(done[1].sum_status, SumStatus::Ok);
}

TEST(FrameDecoder, DecodesFieldsAndKeepsRawBytes) {
  FrameDecoder decoder(false);
  const auto wire = Bytes("10 02 13 00 F8 01 02 10 10 04 05 06 07 02 14 01 00 01 10 10 00 00 90 01 10 03");
  const auto done = Feed(decoder, wire);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].raw, wire);
  EXPECT_TRUE(done[0].header_ok);
  EXPECT_EQ(done[0].byte_count, 0x13);
  EXPECT_EQ(done[0].routing, (std::array<std::uint8_t, 7>{0x01, 0x02, 0x10, 0x04, 0x05, 0x06, 0x07}));
  EXPECT_EQ(done[0].command, 0x1402);
  EXPECT_EQ(done[0].subcommand, 0x0001);
  EXPECT_EQ(Spaced(done[0].data), "01 10 00 00 90 01");
  EXPECT_EQ(done[0].sum_status, SumStatus::NotChecked);
}

TEST(FrameDecoder, OverlongBodyIsDropped) {
  FrameDecoder decoder(false);
  const std::vector<std::uint8_t> body(FrameDecoder::kMaxBody + 1, 0x55);
  EXPECT_TRUE(Feed(decoder, testing::Join(Bytes("10 02"), body, Bytes("10 03"))).empty());
}

}  // namespace
}  // namespace kestova::sim
