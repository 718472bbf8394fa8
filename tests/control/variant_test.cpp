#include "control/variant.h"

#include <gtest/gtest.h>

#include "support/raised.h"

namespace kestova {
namespace {

using testing::Raised;

TEST(Variant, ConvertsAsAutomationDoes) {
  EXPECT_EQ(VariantToInteger(true), -1);
  EXPECT_EQ(VariantToInteger(std::string(" 12 ")), 12);
  EXPECT_EQ(VariantToInteger(std::string("2.5")), 2);  // half to even
  EXPECT_EQ(VariantToInteger(std::string("3.5")), 4);
  EXPECT_EQ(VariantToLong(std::int16_t{-3}), -3);
  EXPECT_TRUE(VariantToBoolean(std::string("True")));
  EXPECT_FALSE(VariantToBoolean(std::string("false")));
  EXPECT_TRUE(VariantToBoolean(std::int32_t{-1}));
  EXPECT_EQ(VariantToString(true), "True");
  EXPECT_EQ(VariantToString(std::int32_t{1023}), "1023");
}

TEST(Variant, RefusesWhatDoesNotConvert) {
  EXPECT_EQ(Raised([] { VariantToInteger(std::string("abc")); }), ErrorNumber::TypeMismatch);
  EXPECT_EQ(Raised([] { VariantToInteger(std::string("")); }), ErrorNumber::TypeMismatch);
  EXPECT_EQ(Raised([] { VariantToBoolean(std::string("maybe")); }), ErrorNumber::TypeMismatch);
  EXPECT_EQ(Raised([] { VariantToInteger(std::int32_t{40000}); }), ErrorNumber::Overflow);
  EXPECT_EQ(Raised([] { VariantToLong(std::string("1e12")); }), ErrorNumber::Overflow);
}

}  // namespace
}  // namespace kestova
