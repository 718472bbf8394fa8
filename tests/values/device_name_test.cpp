// Device texts as the PLC writes them, with the bit of a word device, and their labels.

#include <gtest/gtest.h>

#include "values/device_name.h"
#include "values/value_error.h"

namespace kestova {
namespace {

struct DeviceRow {
  const char* text;
  DeviceFamily family;
  std::int64_t number;
  std::optional<int> bit;
  const char* label;
};

TEST(DeviceName, ParsesFamilyLongestFirstNumberInTheFamilysBaseAndAHexBit) {
  const DeviceRow rows[] = {
      {"X1F0", DeviceFamily::X, 0x1F0, {}, "X1F0"},     {"x1f0", DeviceFamily::X, 0x1F0, {}, "X1F0"},
      {"B2FFF", DeviceFamily::B, 0x2FFF, {}, "B2FFF"},  {"w10", DeviceFamily::W, 16, {}, "W10"},
      {"SB7FF", DeviceFamily::SB, 0x7FF, {}, "SB7FF"},  {"sw1a", DeviceFamily::SW, 26, {}, "SW1A"},
      {"d0100", DeviceFamily::D, 100, {}, "D100"},      {"M20000", DeviceFamily::M, 20000, {}, "M20000"},
      {"SM400", DeviceFamily::SM, 400, {}, "SM400"},    {"S5", DeviceFamily::S, 5, {}, "S5"},
      {"sd5", DeviceFamily::SD, 5, {}, "SD5"},  // SD, not step relay S with "D5"
      {"zR7", DeviceFamily::ZR, 7, {}, "ZR7"},          {"X7FFFFFFF", DeviceFamily::X, 0x7FFFFFFF, {}, "X7FFFFFFF"},
      {"D100.5", DeviceFamily::D, 100, 5, "D100"},      {"W1A.f", DeviceFamily::W, 26, 15, "W1A"},
      {"ZR40000.0", DeviceFamily::ZR, 40000, 0, "ZR40000"},
  };
  for (const DeviceRow& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ParseDevice(row.text), (DeviceAddress{row.family, row.number, row.bit}));
    EXPECT_EQ(DeviceLabel(ParseDevice(row.text)), row.label);
  }
}

TEST(DeviceName, RefusesWhatIsNotADevice) {
  for (const char* text : {"", "Q1", "Z100", "D", "ZR", "D1x", "D1A", "X1G", "M-1", " D100", "D100 ",
                           "X80000000", "D10.", "D10.10", "D10.G", "D.5", "M10.1", "X10.2"}) {
    EXPECT_THROW(ParseDevice(text), ValueError) << text;
  }
}

}  // namespace
}  // namespace kestova
