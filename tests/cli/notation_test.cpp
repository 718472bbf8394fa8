// The number forms the tool accepts and the end codes it prints.

#include <gtest/gtest.h>

#include <string>

#include "cli/number_text.h"
#include "cli/reporter.h"
#include "cli/usage_error.h"
#include "link/automation_error.h"

namespace kestova::cli {
namespace {

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
