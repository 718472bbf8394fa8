// The device notation and number forms the tool accepts, and the labels it prints.

#include <gtest/gtest.h>

#include <string>

#include "cli/device_notation.h"
#include "cli/number_text.h"
#include "cli/reporter.h"
#include "cli/usage_error.h"
#include "link/automation_error.h"

namespace kestova::cli {
namespace {

struct DeviceRow {
  const char* text;
  DeviceFamily family;
  std::int64_t number;
  const char* label;
};

TEST(DeviceNotation, ParsesFamilyLongestFirstAndNumberInTheFamilysBase) {
  const DeviceRow rows[] = {
      {"X1F0", DeviceFamily::X, 0x1F0, "X1F0"},
      {"x1f0", DeviceFamily::X, 0x1F0, "X1F0"},
      {"Y0", DeviceFamily::Y, 0, "Y0"},
      {"B2FFF", DeviceFamily::B, 0x2FFF, "B2FFF"},
      {"W1A", DeviceFamily::W, 26, "W1A"},
      {"w10", DeviceFamily::W, 16, "W10"},
      {"SB7FF", DeviceFamily::SB, 0x7FF, "SB7FF"},
      {"sw1a", DeviceFamily::SW, 26, "SW1A"},
      {"D100", DeviceFamily::D, 100, "D100"},
      {"d0100", DeviceFamily::D, 100, "D100"},
      {"M20000", DeviceFamily::M, 20000, "M20000"},
      {"L5", DeviceFamily::L, 5, "L5"},
      {"F5", DeviceFamily::F, 5, "F5"},
      {"S5", DeviceFamily::S, 5, "S5"},
      {"SM400", DeviceFamily::SM, 400, "SM400"},
      // Longest first: SD is the special register, not step relay S with "D5".
      {"SD5", DeviceFamily::SD, 5, "SD5"},
      {"sd5", DeviceFamily::SD, 5, "SD5"},
      {"ZR40000", DeviceFamily::ZR, 40000, "ZR40000"},
      {"zR7", DeviceFamily::ZR, 7, "ZR7"},
      {"X7FFFFFFF", DeviceFamily::X, 0x7FFFFFFF, "X7FFFFFFF"},
  };
  for (const DeviceRow& row : rows) {
    SCOPED_TRACE(row.text);
    const DeviceAddress device = ParseDevice(row.text);
    EXPECT_EQ(device.family, row.family);
    EXPECT_EQ(device.number, row.number);
    EXPECT_EQ(DeviceLabel(device), row.label);
  }
}

TEST(DeviceNotation, RefusesWhatIsNotADevice) {
  const char* rows[] = {
      "",          // nothing
      "Q1",        // unknown family
      "Z100",      // Z alone is not ZR
      "D",         // no number
      "ZR",        // no number
      "D1x",       // not a decimal digit
      "D1A",       // hexadecimal digit in a decimal family
      "X1G",       // not a hexadecimal digit
      "M-1",       // no sign in a device number
      " D100",     // the blank is not a family
      "D100 ",     // nor a trailing blank part of the number
      "D10.5",     // no bit notation
      "X80000000", // beyond 32 bits
  };
  for (const char* text : rows) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ParseDevice(text), UsageError);
  }
}

TEST(DeviceNotation, LabelsBitsFromTheStartDeviceUpInTheFamilysBase) {
  EXPECT_EQ(DeviceLabel(DeviceFamily::X, 0x1F0 + 15), "X1FF");
  EXPECT_EQ(DeviceLabel(DeviceFamily::M, 16 + 15), "M31");
  EXPECT_EQ(DeviceLabel(DeviceFamily::SB, 0x10), "SB10");
}

struct NumberRow {
  const char* text;
  std::int64_t value;
};

TEST(NumberText, AcceptsDecimalAndHexadecimalButNotOctal) {
  const NumberRow rows[] = {
      {"0", 0},          {"010", 10},       {"-1", -1},        {"+7", 7},
      {"0x10", 16},      {"0XfF", 255},     {"-0x8000", -32768},
      {"9223372036854775807", INT64_MAX},   {"-9223372036854775808", INT64_MIN},
  };
  for (const NumberRow& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ParseNumber(row.text, "N"), row.value);
  }
  for (const char* bad : {"", "-", "0x", "1.5", "1e3", "12a", "0x1G", " 1", "9223372036854775808"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseNumber(bad, "N"), UsageError);
  }
}

TEST(NumberText, NarrowingOutOfRangeIsTheControlsOverflow) {
  EXPECT_EQ(ToInteger(-32768), -32768);
  EXPECT_EQ(ToInteger(32767), 32767);
  EXPECT_EQ(ToLong(2147483647), 2147483647);
  for (const std::int64_t value : {std::int64_t{32768}, std::int64_t{-32769}}) {
    try {
      ToInteger(value);
      ADD_FAILURE() << value << " was narrowed";
    } catch (const AutomationError& error) {
      EXPECT_EQ(error.number(), ErrorNumber::Overflow);
    }
  }
  EXPECT_THROW(ToLong(std::int64_t{1} << 31), AutomationError);
}

TEST(Reporter, EndCodeIsFourUpperCaseHexDigitsOfTheSixteenBits) {
  EXPECT_EQ(EndCodeText(0x4031), "0x4031");
  EXPECT_EQ(EndCodeText(static_cast<std::int16_t>(-32767)), "0x8001");
  EXPECT_EQ(EndCodeText(0x00AB), "0x00AB");
}

}  // namespace
}  // namespace kestova::cli
