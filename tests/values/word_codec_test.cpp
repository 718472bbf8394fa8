// Typed values to PLC words and back: boundaries, sign, word order, float specials, text.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "values/value_error.h"
#include "values/word_codec.h"

namespace kestova {
namespace {

using Words = std::vector<Word>;
using Encode = std::vector<Word> (*)(std::span<const std::int64_t>);

struct IntegerRow {
  const char* type;
  Encode encode;
  std::int64_t value;
  Words words;  // empty: refused
};

TEST(WordCodec, IntegersFitTheirTypeLowWordFirst) {
  const IntegerRow rows[] = {
      {"int16", EncodeInt16, -32768, {0x8000}}, {"int16", EncodeInt16, 32767, {0x7FFF}}, {"int16", EncodeInt16, -1, {0xFFFF}},
      {"int16", EncodeInt16, 32768, {}}, {"int16", EncodeInt16, -32769, {}}, {"uint16", EncodeUInt16, 65535, {0xFFFF}},
      {"uint16", EncodeUInt16, 65536, {}}, {"uint16", EncodeUInt16, -1, {}}, {"int32", EncodeInt32, -2, {0xFFFE, 0xFFFF}},
      {"int32", EncodeInt32, 0x12345678, {0x5678, 0x1234}}, {"int32", EncodeInt32, INT32_MIN, {0x0000, 0x8000}},
      {"int32", EncodeInt32, INT64_C(2147483648), {}}, {"uint32", EncodeUInt32, UINT32_MAX, {0xFFFF, 0xFFFF}},
      {"uint32", EncodeUInt32, INT64_C(4294967296), {}}, {"uint32", EncodeUInt32, -1, {}},
  };
  for (const IntegerRow& row : rows) {
    SCOPED_TRACE(std::string(row.type) + " " + std::to_string(row.value));
    const std::span<const std::int64_t> values(&row.value, 1);
    if (row.words.empty()) {
      try {
        row.encode(values);
        ADD_FAILURE() << "accepted";
      } catch (const ValueError& e) {
        EXPECT_EQ(e.what(), std::to_string(row.value) + " does not fit " + row.type);
      }
      continue;
    }
    EXPECT_EQ(row.encode(values), row.words);
  }
  const Words pair = {0xFFFE, 0xFFFF, 0x5678};  // an odd last word is no value
  EXPECT_EQ(DecodeInt32(pair), std::vector<std::int32_t>{-2});
  EXPECT_EQ(DecodeUInt32(pair), std::vector<std::uint32_t>{0xFFFFFFFE});
  EXPECT_EQ(DecodeInt16(pair), (std::vector<std::int16_t>{-2, -1, 0x5678}));
}

TEST(WordCodec, FloatsAreIeeeSinglesLowWordFirstSpecialsIncluded) {
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {3.5, -0.0, inf, -inf, 3.4028234663852886e38, 1e-46};
  const Words words = {0x0000, 0x4060, 0x0000, 0x8000, 0x0000, 0x7F80,
                       0x0000, 0xFF80, 0xFFFF, 0x7F7F, 0x0000, 0x0000};
  EXPECT_EQ(EncodeFloat(values), words);
  const std::vector<float> back = DecodeFloat(words);
  EXPECT_EQ(back[0], 3.5f);
  EXPECT_TRUE(std::signbit(back[1]));

  const double nan[] = {std::nan("")};
  EXPECT_TRUE(std::isnan(DecodeFloat(EncodeFloat(nan))[0]));
  for (const double big : {3.5e38, -1e39}) EXPECT_THROW(EncodeFloat({&big, 1}), ValueError) << big;
}

TEST(WordCodec, TextIsTwoAsciiCharactersAWordFirstInTheLowByte) {
  EXPECT_EQ(EncodeText("ABC"), (Words{0x4241, 0x0043}));
  EXPECT_EQ(EncodeText(""), Words{});
  EXPECT_THROW(EncodeText("caf\xC3\xA9"), ValueError);
  const Words words = {0x4241, 0x0043, 0x4545};
  EXPECT_EQ(DecodeText(words, 6), "ABC");  // ends at the zero byte
  EXPECT_EQ(DecodeText(words, 1), "A");
  EXPECT_EQ(DecodeText(words, 99), "ABC");
}

}  // namespace
}  // namespace kestova
