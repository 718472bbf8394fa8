#include "values/word_codec.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>

#include "link/frame.h"
#include "values/value_error.h"

namespace kestova {
namespace {

void RequireRange(std::int64_t value, std::int64_t low, std::int64_t high, const char* type) {
  if (value < low || value > high) {
    throw ValueError(std::to_string(value) + " does not fit " + type);
  }
}

void AppendPair(std::vector<Word>& words, std::uint32_t value) {
  words.push_back(static_cast<Word>(value & 0xFFFF));
  words.push_back(static_cast<Word>(value >> 16));
}

template <typename T, typename Make>
std::vector<T> DecodePairs(std::span<const Word> words, Make make) {
  std::vector<T> values;
  values.reserve(words.size() / 2);
  for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
    values.push_back(make(static_cast<std::uint32_t>(words[i]) | static_cast<std::uint32_t>(words[i + 1]) << 16));
  }
  return values;
}

// One word per value for the 16-bit types, two (low word first) for the 32-bit ones.
template <typename T>
std::vector<Word> EncodeIntegers(std::span<const std::int64_t> values, const char* type) {
  std::vector<Word> words;
  for (const std::int64_t v : values) {
    RequireRange(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), type);
    if constexpr (sizeof(T) == 2) {
      words.push_back(static_cast<Word>(v));
    } else {
      AppendPair(words, static_cast<std::uint32_t>(v));
    }
  }
  return words;
}

}  // namespace

std::vector<Word> EncodeInt16(std::span<const std::int64_t> values) {
  return EncodeIntegers<std::int16_t>(values, "int16");
}

std::vector<Word> EncodeUInt16(std::span<const std::int64_t> values) {
  return EncodeIntegers<std::uint16_t>(values, "uint16");
}

std::vector<Word> EncodeInt32(std::span<const std::int64_t> values) {
  return EncodeIntegers<std::int32_t>(values, "int32");
}

std::vector<Word> EncodeUInt32(std::span<const std::int64_t> values) {
  return EncodeIntegers<std::uint32_t>(values, "uint32");
}

std::vector<Word> EncodeFloat(std::span<const double> values) {
  std::vector<Word> words;
  for (const double v : values) {
    if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) {
      char text[32];
      std::snprintf(text, sizeof text, "%.9g", v);
      throw ValueError(std::string(text) + " does not fit float");
    }
    AppendPair(words, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
  }
  return words;
}

std::vector<Word> EncodeText(std::string_view text) {
  std::vector<Word> words((text.size() + 1) / 2, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c > 0x7F) {
      throw ValueError("text is not ASCII: byte 0x" + HexByte(c) + " at " + std::to_string(i));
    }
    words[i / 2] = static_cast<Word>(words[i / 2] | (i % 2 == 0 ? c : c << 8));
  }
  return words;
}

std::vector<std::int16_t> DecodeInt16(std::span<const Word> words) {
  std::vector<std::int16_t> values;
  for (const Word w : words) values.push_back(static_cast<std::int16_t>(w));
  return values;
}

std::vector<std::uint16_t> DecodeUInt16(std::span<const Word> words) {
  return {words.begin(), words.end()};
}

std::vector<std::int32_t> DecodeInt32(std::span<const Word> words) {
  return DecodePairs<std::int32_t>(words, [](std::uint32_t v) { return static_cast<std::int32_t>(v); });
}

std::vector<std::uint32_t> DecodeUInt32(std::span<const Word> words) {
  return DecodePairs<std::uint32_t>(words, [](std::uint32_t v) { return v; });
}

std::vector<float> DecodeFloat(std::span<const Word> words) {
  return DecodePairs<float>(words, [](std::uint32_t v) { return std::bit_cast<float>(v); });
}

std::string DecodeText(std::span<const Word> words, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length && i / 2 < words.size(); ++i) {
    const auto c = static_cast<char>(i % 2 == 0 ? words[i / 2] & 0xFF : words[i / 2] >> 8);
    if (c == '\0') break;
    text.push_back(c);
  }
  return text;
}

}  // namespace kestova
