// The device image: each family's array size, and its getter's guard. Which member reads
// which family is proven by the operations' reads from a station.

#include "control/device_image.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/raised.h"

namespace kestova {
namespace {

TEST(DeviceImage, EveryArrayEndsAtItsLimitAndGuardsItsGetter) {
  using F = DeviceFamily;
  struct Row {
    F family;
    const char* name;
    std::int32_t last;  // highest element
    bool guarded;       // above it the getter gives False / 0; else error 9
  } rows[] = {
      {F::X, "X", 8191, true},    {F::Y, "Y", 8191, true},     {F::M, "M", 20000, true},  {F::B, "B", 12287, true},
      {F::SM, "SM", 2047, true},  {F::SB, "SB", 2047, false},  {F::L, "L", 8191, true},   {F::F, "F", 8191, true},
      {F::S, "S", 8191, true},    {F::D, "D", 20000, true},    {F::W, "W", 20000, true},  {F::ZR, "ZR", 64000, false},
      {F::SD, "SD", 2047, true},  {F::SW, "SW", 2047, false},
  };
  const auto subscript = [](const std::function<void()>& action) {
    return testing::Raised(action) == ErrorNumber::SubscriptOutOfRange;
  };
  DeviceImage image;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool bits = IsBitFamily(row.family);
    EXPECT_EQ(image.Value(row.family, row.last), 0);  // every element starts at 0 / False
    if (bits) {
      image.SetBit(row.family, row.last, true);
      EXPECT_TRUE(image.Bit(row.family, row.last));
      EXPECT_EQ(image.Value(row.family, row.last), 1);
      EXPECT_TRUE(subscript([&] { image.SetBit(row.family, row.last + 1, true); }));
    } else {
      image.SetWord(row.family, row.last, -7);
      EXPECT_EQ(image.Word(row.family, row.last), -7);
      EXPECT_EQ(image.Value(row.family, row.last), -7);
      EXPECT_TRUE(subscript([&] { image.SetWord(row.family, row.last + 1, 1); }));
    }
    EXPECT_TRUE(subscript([&] { image.Value(row.family, -1); }));
    if (row.guarded) {
      EXPECT_EQ(image.Value(row.family, row.last + 1), 0);
    } else {
      EXPECT_TRUE(subscript([&] { image.Value(row.family, row.last + 1); }));
    }
  }
}

}  // namespace
}  // namespace kestova
