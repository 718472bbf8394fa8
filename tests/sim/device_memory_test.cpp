#include "sim/device_memory.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestova::sim {
namespace {

// The sizes and device codes are proven by the control's end-to-end reads and writes at
// each family's limit; what only the memory itself shows is here.
TEST(DeviceMemory, NamesAndBoundsOfEveryFamily) {
  DeviceMemory memory;
  for (int f = 0; f < kFamilyCount; ++f) {
    const auto family = static_cast<Family>(f);
    SCOPED_TRACE(FamilyName(family));
    EXPECT_EQ(FamilyFromName(FamilyName(family)), family);
    EXPECT_THROW(memory.SetWord(family, FamilySize(family), 1), std::out_of_range);
    EXPECT_THROW((void)memory.Bit(family, -1), std::out_of_range);
  }
}

TEST(DeviceMemory, RefusedBlockWriteChangesNothing) {
  DeviceMemory memory;
  const std::uint16_t words[] = {1, 2, 3};
  EXPECT_THROW(memory.WriteWords(Family::SD, 2046, words), std::out_of_range);
  EXPECT_EQ(memory.Word(Family::SD, 2046), 0);
  memory.WriteWords(Family::SD, 2045, words);
  EXPECT_EQ(memory.ReadWords(Family::SD, 2045, 3), (std::vector<std::uint16_t>{1, 2, 3}));
}

}  // namespace
}  // namespace kestova::sim
