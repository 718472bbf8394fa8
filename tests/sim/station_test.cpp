// The station alone: hand-written request frames in, exact answer bytes out.
#include "sim/station.h"

#include <gtest/gtest.h>

#include <functional>
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

struct Row {
  const char* name;
  bool sum_check;
  const char* request;
  const char* answer;  // "" when the station must stay silent
  CpuState cpu_before = CpuState::Run;
  std::function<void(const Station&)> check = nullptr;
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      // Reads of words and bits.
      {"read D100 x2, sum", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30 43",
       "10 02 10 10 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 CD AB 10 03 43 35"},
      {"read D100 x2, no sum", false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03",
       "10 02 10 10 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 CD AB 10 03"},
      {"read X0 x1 (bits packed, bit 0 = X0)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 00 00 00 9C 01 00 10 03 39 42",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 05 80 10 03 38 41"},
      {"read M16 x1 (head 0x10 doubled)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 10 10 00 00 90 01 00 10 03 39 46",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 11 80 10 03 39 36"},
      {"read M5 x1 (head not a multiple of 16)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 05 00 00 90 01 00 10 03 39 34",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 03 88 10 03 39 30"},
      {"read ZR16 x1 (0x1010 doubled in answer)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 10 10 00 00 B0 01 00 10 03 42 46",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 10 10 10 10 03 32 35"},
      {"routing echoed, PC 0x10 doubled both ways", true,
       "10 02 00 00 F8 05 01 10 10 FF 03 02 00 01 04 00 00 64 00 00 A8 01 00 10 03 32 34",
       "10 02 0E 00 F8 05 01 10 10 FF 03 02 00 FF FF 00 00 34 12 10 03 36 34"},

      // Word writes.
      {"write D100 = 5, no sum", false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03", CpuState::Run,
       [](const Station& s) { EXPECT_EQ(s.memory().Word(Family::D, 100), 5); }},
      {"write D100 = 5, sum", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03 32 30",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) {
         EXPECT_EQ(s.memory().Word(Family::D, 100), 5);
         EXPECT_EQ(s.memory().Word(Family::D, 101), 0xABCD);
       }},
      {"write D16 = 0x1000 (DLEs in head and data)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 10 10 00 00 A8 01 00 00 10 10 10 03 44 37",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) { EXPECT_EQ(s.memory().Word(Family::D, 16), 0x1000); }},
      {"block write D100 [1, 2]", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 02 00 01 00 02 00 10 03 31 46",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) {
         EXPECT_EQ(s.memory().Word(Family::D, 100), 1);
         EXPECT_EQ(s.memory().Word(Family::D, 101), 2);
       }},
      {"block write ZR16 [0x1010]", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 10 10 00 00 B0 01 00 10 10 10 10 10 03 45 "
       "46",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) { EXPECT_EQ(s.memory().Word(Family::ZR, 16), 0x1010); }},

      // Bit writes.
      {"reset M0, no sum (count field 0x13)", false,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 00 00 00 90 00 10 03",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03", CpuState::Run,
       [](const Station& s) { EXPECT_FALSE(s.memory().Bit(Family::M, 0)); }},
      {"reset M0, sum", true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 00 00 00 90 00 10 03 42 34",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) {
         EXPECT_FALSE(s.memory().Bit(Family::M, 0));
         EXPECT_TRUE(s.memory().Bit(Family::M, 5));
       }},
      {"set M16 (device 0x10 doubled)", true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 10 10 00 00 90 01 10 03 43 35",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) { EXPECT_TRUE(s.memory().Bit(Family::M, 16)); }},
      {"set Y7, reset X2 in one request", true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 02 07 00 00 9D 01 02 00 00 9C 00 10 03 36 "
       "38",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) {
         EXPECT_TRUE(s.memory().Bit(Family::Y, 7));
         EXPECT_FALSE(s.memory().Bit(Family::X, 2));
       }},

      // Remote operations.
      {"remote RUN 1,1 clears outside the latch range", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 10 10 00 00 01 00 01 00 10 03 30 43",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Stop,
       [](const Station& s) {
         EXPECT_EQ(s.cpu_state(), CpuState::Run);
         EXPECT_EQ(s.memory().Word(Family::D, 0), 0);
         EXPECT_FALSE(s.memory().Bit(Family::Y, 1));
         EXPECT_EQ(s.memory().Word(Family::D, 10000), 9);
         EXPECT_TRUE(s.memory().Bit(Family::L, 3));
         EXPECT_TRUE(s.memory().Bit(Family::X, 0));
         EXPECT_EQ(s.memory().Word(Family::SD, 5), 42);
         EXPECT_EQ(s.memory().Word(Family::ZR, 16), 0x1010);
       }},
      {"remote RUN 3,2 clears the latch range too", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 10 10 00 00 03 00 02 00 10 03 30 46",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Stop,
       [](const Station& s) {
         EXPECT_EQ(s.cpu_state(), CpuState::Run);
         EXPECT_EQ(s.memory().Word(Family::D, 10000), 0);
         EXPECT_FALSE(s.memory().Bit(Family::L, 3));
         EXPECT_TRUE(s.memory().Bit(Family::X, 0));
       }},
      {"remote RUN 1,0 keeps memory", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 10 10 00 00 01 00 00 00 10 03 30 42",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Stop,
       [](const Station& s) {
         EXPECT_EQ(s.cpu_state(), CpuState::Run);
         EXPECT_EQ(s.memory().Word(Family::D, 0), 7);
       }},
      {"remote STOP 1", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 02 10 10 00 00 01 00 10 03 30 43",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Run,
       [](const Station& s) {
         EXPECT_EQ(s.cpu_state(), CpuState::Stop);
         EXPECT_EQ(s.memory().Word(Family::D, 0), 7);
       }},
      {"remote RESET 1 while stopped", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 06 10 10 00 00 01 00 10 03 31 30",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03 30 33", CpuState::Stop,
       [](const Station& s) {
         EXPECT_EQ(s.cpu_state(), CpuState::Stop);
         EXPECT_EQ(s.memory().Word(Family::D, 0), 0);
         EXPECT_EQ(s.memory().Word(Family::D, 10000), 9);
       }},
      {"remote RESET 1 while running is refused (0x4010, low byte doubled)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 06 10 10 00 00 01 00 10 03 31 30",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 10 10 40 10 03 35 33", CpuState::Run,
       [](const Station& s) {
         EXPECT_EQ(s.cpu_state(), CpuState::Run);
         EXPECT_EQ(s.memory().Word(Family::D, 0), 7);
       }},

      // Command errors.
      {"unknown command 0x0619", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 19 06 00 00 00 00 10 03 31 38",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 40 7E 10 03 43 31"},
      {"read with subcommand 0x0001", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 01 00 64 00 00 A8 01 00 10 03 30 43",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 40 7E 10 03 43 31"},
      {"bit write with subcommand 0x0000", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 02 14 00 00 01 00 00 00 90 00 10 03 41 30",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 40 7E 10 03 43 31", CpuState::Run,
       [](const Station& s) { EXPECT_TRUE(s.memory().Bit(Family::M, 0)); }},

      // Data errors.
      {"read with short data", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 10 03 30 42",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 41 7E 10 03 43 32"},
      {"remote RUN mode 2", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 10 10 00 00 02 00 01 00 10 03 30 44",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 41 7E 10 03 43 32", CpuState::Stop,
       [](const Station& s) { EXPECT_EQ(s.cpu_state(), CpuState::Stop); }},
      {"remote RUN clear mode 3", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 10 10 00 00 01 00 03 00 10 03 30 45",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 41 7E 10 03 43 32", CpuState::Stop,
       [](const Station& s) { EXPECT_EQ(s.memory().Word(Family::D, 0), 7); }},
      {"remote STOP mode 3", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 02 10 10 00 00 03 00 10 03 30 45",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 41 7E 10 03 43 32"},
      {"bit write ON/OFF byte 2", true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 00 00 00 90 02 10 03 42 36",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 41 7E 10 03 43 32"},

      // Data count errors.
      {"read 0 points", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 00 00 10 03 30 41",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 42 7E 10 03 43 33"},
      {"read 481 points", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 E1 01 10 03 45 43",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 42 7E 10 03 43 33"},
      {"write 2 points with 1 word of data", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 02 00 05 00 10 03 32 31",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 42 7E 10 03 43 33", CpuState::Run,
       [](const Station& s) { EXPECT_EQ(s.memory().Word(Family::D, 100), 0x1234); }},
      {"bit write 0 points", true, "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 00 10 03 32 33",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 42 7E 10 03 43 33"},

      // Device errors.
      {"read unknown device code 0x00", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 00 01 00 10 03 36 33",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 43 7E 10 03 43 34"},
      {"read D20479 x2 (past the end)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 FF 4F 00 A8 02 00 10 03 46 36",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 43 7E 10 03 43 34"},
      {"read X8180 x1 (bits past the end)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 F4 1F 00 9C 01 00 10 03 41 45",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 43 7E 10 03 43 34"},
      {"write ZR 0x010000 (third head byte)", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 00 00 01 B0 01 00 05 00 10 03 43 35",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 43 7E 10 03 43 34"},
      {"bit write to D (a word family)", true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 00 00 00 A8 01 10 03 43 44",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 43 7E 10 03 43 34"},
      {"bit write M20480 (past the end) after a good point writes nothing", true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 02 07 00 00 9D 01 00 50 00 90 01 10 03 41 "
       "42",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 43 7E 10 03 43 34", CpuState::Run,
       [](const Station& s) { EXPECT_FALSE(s.memory().Bit(Family::Y, 7)); }},

      // Sum check and framing.
      {"sum characters wrong", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03 32 31",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 24 7F 10 03 41 36", CpuState::Run,
       [](const Station& s) { EXPECT_EQ(s.memory().Word(Family::D, 100), 0x1234); }},
      {"sum characters not hex", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30 47",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 24 7F 10 03 41 36"},
      {"sum characters missing", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03",
       "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 24 7F 10 03 41 36"},
      {"sum check off: bytes after DLE ETX are noise", false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03 30 43 55",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 10 03"},
      {"noise before DLE STX is skipped", false,
       "00 10 41 03 10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 10 03"},
      {"count field value is ignored", false,
       "10 02 34 12 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 10 03"},
      {"DLE then another byte drops the frame; the next is read", false,
       "10 02 00 00 F8 00 10 05 00 "
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 10 03"},
      {"DLE STX inside a frame starts a new one", false,
       "10 02 00 00 F8 00 00 FF 10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 "
       "10 03",
       "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 10 03"},
      {"frame shorter than the header is not answered", true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 10 03 30 46", ""},
      {"frame ID other than 0xF8 is not answered", false,
       "10 02 00 00 F9 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00 10 03", ""},
      {"unterminated frame is not answered", false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 01 00", ""},
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

    const auto answer = station.HandleFrame(Bytes(row.request));

    if (std::string(row.answer).empty()) {
      EXPECT_FALSE(answer.has_value()) << "answered " << Spaced(*answer);
    } else {
      ASSERT_TRUE(answer.has_value());
      EXPECT_EQ(Spaced(*answer), Spaced(Bytes(row.answer)));
    }
    if (row.check) row.check(station);
  }
}

// The control's fourteen reads: the same word stored and read back through each family.
TEST(StationTable, ReadsEveryFamily) {
  const Family families[] = {Family::X,  Family::Y, Family::M,  Family::B, Family::SM,
                             Family::SB, Family::L, Family::F,  Family::S, Family::D,
                             Family::SD, Family::W, Family::SW, Family::ZR};
  for (const auto family : families) {
    SCOPED_TRACE(FamilyName(family));
    Station station;
    const std::int32_t head = FamilySize(family) - (IsBitFamily(family) ? 16 : 1);
    station.memory().SetWord(family, head, 0xA55A);
    const std::vector<std::uint8_t> data = {static_cast<std::uint8_t>(head & 0xFF),
                                            static_cast<std::uint8_t>((head >> 8) & 0xFF),
                                            static_cast<std::uint8_t>(head >> 16),
                                            DeviceCode(family),
                                            0x01,
                                            0x00};
    const auto answer = station.HandleFrame(testing::RequestFrame(0x0401, 0x0000, data));
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(Spaced(*answer), "10 02 0E 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 5A A5 10 03");
  }
}

TEST(StationTable, LongestReadIs980BytesWithTheSumCheck) {
  Station station;
  station.set_sum_check(true);
  for (std::int32_t i = 0; i < 480; ++i) station.memory().SetWord(Family::D, i, 0x0102);
  const auto answer = station.HandleFrame(
      testing::RequestFrame(0x0401, 0x0000, {0x00, 0x00, 0x00, 0xA8, 0xE0, 0x01}, true));
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->size(), 980u);
  // Count field 12 + 960 = 972 = 0x03CC.
  EXPECT_EQ((*answer)[2], 0xCC);
  EXPECT_EQ((*answer)[3], 0x03);
}

TEST(FrameDecoder, SumCharactersExpireIntoAMissingSum) {
  FrameDecoder decoder(true);
  std::optional<ReceivedRequest> done;
  for (const auto byte :
       Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30"))
    done = decoder.Feed(byte);
  EXPECT_FALSE(done.has_value());
  EXPECT_TRUE(decoder.awaiting_sum());
  done = decoder.ExpireSum();
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->sum_status, SumStatus::Missing);
  EXPECT_FALSE(done->sum_ok);
  EXPECT_EQ(done->command, 0x0401);
}

TEST(FrameDecoder, NextFrameInPlaceOfTheSumIsStillRead) {
  FrameDecoder decoder(true);
  std::vector<ReceivedRequest> done;
  const auto frame = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03");
  auto wire = frame;
  wire.insert(wire.end(), frame.begin(), frame.end());
  wire.push_back(0x30);
  wire.push_back(0x43);
  for (const auto byte : wire)
    if (auto request = decoder.Feed(byte)) done.push_back(*request);
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].sum_status, SumStatus::Missing);
  EXPECT_EQ(done[1].sum_status, SumStatus::Ok);
}

TEST(FrameDecoder, DecodesFieldsAndKeepsRawBytes) {
  FrameDecoder decoder(false);
  std::optional<ReceivedRequest> done;
  const auto wire =
      Bytes("10 02 13 00 F8 01 02 10 10 04 05 06 07 02 14 01 00 01 10 10 00 00 90 01 10 03");
  for (const auto byte : wire)
    if (auto request = decoder.Feed(byte)) done = request;
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->raw, wire);
  EXPECT_TRUE(done->header_ok);
  EXPECT_EQ(done->byte_count, 0x13);
  EXPECT_EQ(done->routing, (std::array<std::uint8_t, 7>{0x01, 0x02, 0x10, 0x04, 0x05, 0x06, 0x07}));
  EXPECT_EQ(done->command, 0x1402);
  EXPECT_EQ(done->subcommand, 0x0001);
  EXPECT_EQ(Spaced(done->data), "01 10 00 00 90 01");
  EXPECT_EQ(done->sum_status, SumStatus::NotChecked);
}

TEST(FrameDecoder, OverlongBodyIsDropped) {
  FrameDecoder decoder(false);
  std::vector<std::uint8_t> wire = {0x10, 0x02};
  wire.insert(wire.end(), FrameDecoder::kMaxBody + 1, 0x55);
  wire.push_back(0x10);
  wire.push_back(0x03);
  std::optional<ReceivedRequest> done;
  for (const auto byte : wire)
    if (auto request = decoder.Feed(byte)) done = request;
  EXPECT_FALSE(done.has_value());
}

}  // namespace
}  // namespace kestova::sim
