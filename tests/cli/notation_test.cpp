// The number forms and --as value forms the tool accepts, and what it prints for them.

#include <gtest/gtest.h>

#include <string>

#include "cli/number_text.h"
#include "cli/reporter.h"
#include "cli/usage_error.h"
#include "cli/value_forms.h"
#include "link/automation_error.h"
#include "support/raised.h"
#include "values/value_error.h"

namespace kestova::cli {
namespace {

TEST(NumberText, AcceptsDecimalAndHexadecimalButNotOctal) {
  const std::pair<const char*, std::int64_t> rows[] = {
      {"0", 0},          {"010", 10},       {"-1", -1},        {"+7", 7},
      {"0x10", 16},      {"0XfF", 255},     {"-0x8000", -32768},
      {"9223372036854775807", INT64_MAX},   {"-9223372036854775808", INT64_MIN},
  };
  for (const auto& [text, value] : rows) EXPECT_EQ(ParseNumber(text, "N"), value) << text;
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
    EXPECT_EQ(testing::Raised([&] { ToInteger(value); }), ErrorNumber::Overflow) << value;
  }
  EXPECT_THROW(ToLong(std::int64_t{1} << 31), AutomationError);
}

struct ShowRow {
  const char* as;
  std::vector<int> image;  // the image's signed words
  std::int64_t points;
  std::string shown;       // "device text json;" per value
};

TEST(ValueForms, ShowsEachValueAtItsFirstDeviceWithItsJson) {
  const ShowRow rows[] = {
      {"int16", {-1, 0x7FFF}, 2, "W1A -1 -1;W1B 32767 32767;"},
      {"uint16", {-1}, 1, "W1A 65535 65535;"},
      {"hex", {-21555}, 1, "W1A 0xABCD \"0xABCD\";"},
      {"int32", {-2, -1, 0x5678, 0x1234}, 2, "W1A -2 -2;W1C 305419896 305419896;"},
      {"uint32", {-2, -1}, 1, "W1A 4294967294 4294967294;"},
      {"float", {0, 0x4060, -13107, 0x3DCC, 0, -128}, 3, "W1A 3.5 3.5;W1C 0.1 0.1;W1E -inf null;"},
      {"text", {0x4241, 0x43, 0x4545}, 5, "W1A ABC \"ABC\";"},
  };
  for (const ShowRow& row : rows) {
    SCOPED_TRACE(row.as);
    const ValueForm form = *ValueFormNamed(row.as);
    EXPECT_EQ(WordsOf(form, row.points), static_cast<std::int64_t>(row.image.size()));
    std::string shown;
    for (const ShownValue& v : ShowValues(form, {DeviceFamily::W, 0x1A, {}}, row.image, row.points)) {
      shown += v.device + " " + v.text + " " + v.json.dump() + ";";
    }
    EXPECT_EQ(shown, row.shown);
  }
  EXPECT_FALSE(ValueFormNamed("int64"));
}

TEST(ValueForms, EncodesTypedValuesAndRefusesWhatIsNotOne) {
  EXPECT_EQ(EncodeValues(ValueForm::kFloat, {"3.5", "-inf"}), (std::vector<std::int16_t>{0, 0x4060, 0, -128}));
  EXPECT_EQ(EncodeValues(ValueForm::kHex, {"abcd", "0x1"}), (std::vector<std::int16_t>{-21555, 1}));
  EXPECT_EQ(EncodeValues(ValueForm::kUInt32, {"0x10000"}), (std::vector<std::int16_t>{0, 1}));
  EXPECT_EQ(EncodeValues(ValueForm::kText, {"ABC"}), (std::vector<std::int16_t>{0x4241, 0x43}));
  const std::pair<ValueForm, std::vector<std::string>> usage[] = {
      {ValueForm::kFloat, {"3,5"}}, {ValueForm::kHex, {"10000"}}, {ValueForm::kHex, {"-1"}},
      {ValueForm::kInt32, {"1.5"}}, {ValueForm::kText, {"A", "B"}}, {ValueForm::kText, {""}}};
  for (const auto& [form, texts] : usage) EXPECT_THROW(EncodeValues(form, texts), UsageError) << texts[0];
  EXPECT_THROW(EncodeValues(ValueForm::kInt16, {"32768"}), ValueError);
}

TEST(Reporter, EndCodeIsFourUpperCaseHexDigitsOfTheSixteenBits) {
  EXPECT_EQ(EndCodeText(0x4031), "0x4031");
  EXPECT_EQ(EndCodeText(static_cast<std::int16_t>(-32767)), "0x8001");
  EXPECT_EQ(EndCodeText(0x00AB), "0x00AB");
}

}  // namespace
}  // namespace kestova::cli
