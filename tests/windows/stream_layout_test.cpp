// The saved-properties layout used by IPersistStreamInit: round trips of every value type,
// and refusal of anything malformed before a byte of it is trusted.

#include "server/stream_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestova::server {
namespace {

SavedEntries Sample() {
  return {{"Enabled", true},
          {"CommPort", std::int16_t{-2}},
          {"Settings", std::string("19200,e,7,2")},
          {"RqstDestMdIO", std::int32_t{70000}},
          {"Empty", std::string()}};
}

std::span<const std::uint8_t, kStreamHeaderSize> Header(const std::vector<std::uint8_t>& bytes) {
  return std::span<const std::uint8_t, kStreamHeaderSize>(bytes.data(), kStreamHeaderSize);
}

std::vector<std::uint8_t> Payload(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin() + kStreamHeaderSize, bytes.end()};
}

// The header is magic, format and payload length; the payload keeps keys, order and types.
TEST(StreamLayout, RoundTripKeepsKeysOrderAndValueTypes) {
  const std::vector<std::uint8_t> empty = {'K', 'S', 'T', 'V', 1, 0, 0, 0, 2, 0, 0, 0, 0, 0};
  EXPECT_EQ(EncodeSavedProperties({}), empty);
  const std::vector<std::uint8_t> bytes = EncodeSavedProperties(Sample());
  ASSERT_GE(bytes.size(), kStreamHeaderSize);
  EXPECT_EQ(PayloadLength(Header(bytes)), bytes.size() - kStreamHeaderSize);
  EXPECT_EQ(DecodeSavedProperties(Payload(bytes)), Sample());
}

TEST(StreamLayout, RefusesBadHeaders) {
  const std::vector<std::uint8_t> good = EncodeSavedProperties(Sample());
  struct Row {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  };
  const Row rows[] = {
      {"wrong magic", 0, 'X'},
      {"unknown format", 4, 2},
      {"length above the maximum", 11, 0x01},
  };
  for (const Row& row : rows) {
    std::vector<std::uint8_t> bytes = good;
    bytes[row.offset] = row.value;
    EXPECT_THROW(PayloadLength(Header(bytes)), StreamFormatError) << row.what;
  }
}

TEST(StreamLayout, RefusesEveryTruncation) {
  const std::vector<std::uint8_t> payload = Payload(EncodeSavedProperties(Sample()));
  for (std::size_t length = 0; length < payload.size(); ++length) {
    const std::span<const std::uint8_t> cut(payload.data(), length);
    EXPECT_THROW(DecodeSavedProperties(cut), StreamFormatError) << "cut at " << length;
  }
}

TEST(StreamLayout, RefusesMalformedPayloads) {
  struct Row {
    const char* what;
    std::vector<std::uint8_t> payload;
  };
  const Row rows[] = {
      {"unknown value type", {1, 0, 1, 'A', 9, 0}},
      {"Boolean neither 0 nor 1", {1, 0, 1, 'A', 1, 2}},
      {"string longer than what is left", {1, 0, 1, 'A', 4, 0xFF, 0xFF, 'x'}},
      {"trailing bytes", {0, 0, 0}},
      {"more entries announced than present", {2, 0, 1, 'A', 2, 1, 0}},
  };
  for (const Row& row : rows) {
    EXPECT_THROW(DecodeSavedProperties(row.payload), StreamFormatError) << row.what;
  }
}

TEST(StreamLayout, RefusesKeysAndStringsTooLongForTheirFields) {
  EXPECT_THROW(EncodeSavedProperties({{std::string(256, 'k'), true}}), StreamFormatError);
  EXPECT_THROW(EncodeSavedProperties({{"Settings", std::string(70000, 's')}}), StreamFormatError);
}

TEST(StreamLayout, SavedBagReadsSavedValuesAndDefaults) {
  SavedPropertyBag bag(Sample());
  EXPECT_EQ(bag.ReadProperty("CommPort", std::int16_t{1}), Variant(std::int16_t{-2}));
  EXPECT_EQ(bag.ReadProperty("Timeout", std::int16_t{3}), Variant(std::int16_t{3}));
  bag.WriteProperty("CommPort", std::int16_t{7}, std::int16_t{1});
  bag.WriteProperty("Timeout", std::int16_t{9}, std::int16_t{3});
  EXPECT_EQ(bag.entries().size(), Sample().size() + 1);
  EXPECT_EQ(bag.ReadProperty("CommPort", std::int16_t{1}), Variant(std::int16_t{7}));
}

}  // namespace
}  // namespace kestova::server
