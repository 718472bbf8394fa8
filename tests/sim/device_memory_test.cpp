#include "sim/device_memory.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestova::sim {
namespace {

TEST(DeviceMemory, SizesCoverTheControlsLimits) {
  struct Row {
    Family family;
    std::int32_t at_least;
  };
  const Row rows[] = {{Family::X, 8192},  {Family::Y, 8192},  {Family::L, 8192},
                      {Family::F, 8192},  {Family::S, 8192},  {Family::M, 20001},
                      {Family::B, 12288}, {Family::SM, 2048}, {Family::SB, 2048},
                      {Family::D, 20001}, {Family::W, 20001}, {Family::SD, 2048},
                      {Family::SW, 2048}, {Family::ZR, 65536}};
  DeviceMemory memory;
  for (const auto& row : rows) {
    SCOPED_TRACE(FamilyName(row.family));
    EXPECT_GE(FamilySize(row.family), row.at_least);
    const auto last = FamilySize(row.family) - 1;
    if (IsBitFamily(row.family)) {
      memory.SetBit(row.family, last, true);
      EXPECT_TRUE(memory.Bit(row.family, last));
      EXPECT_THROW(memory.SetBit(row.family, last + 1, true), std::out_of_range);
      EXPECT_THROW((void)memory.Bit(row.family, -1), std::out_of_range);
    } else {
      memory.SetWord(row.family, last, 0xBEEF);
      EXPECT_EQ(memory.Word(row.family, last), 0xBEEF);
      EXPECT_THROW(memory.SetWord(row.family, last + 1, 1), std::out_of_range);
      EXPECT_THROW((void)memory.Word(row.family, -1), std::out_of_range);
    }
    EXPECT_EQ(FamilyFromCode(DeviceCode(row.family)), row.family);
    EXPECT_EQ(FamilyFromName(FamilyName(row.family)), row.family);
  }
}

TEST(DeviceMemory, BitFamilyReadsAsWordsFromAnyHead) {
  DeviceMemory memory;
  memory.SetBit(Family::M, 3, true);
  memory.SetBit(Family::M, 18, true);
  EXPECT_EQ(memory.Word(Family::M, 0), 0x0008);
  EXPECT_EQ(memory.Word(Family::M, 3), 0x8001);
  memory.SetWord(Family::M, 5, 0x0003);
  EXPECT_TRUE(memory.Bit(Family::M, 5));
  EXPECT_TRUE(memory.Bit(Family::M, 6));
  EXPECT_FALSE(memory.Bit(Family::M, 18));
  EXPECT_THROW((void)memory.Word(Family::X, 8180), std::out_of_range);
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
