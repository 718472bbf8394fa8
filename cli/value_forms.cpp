#include "cli/value_forms.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/number_text.h"
#include "cli/usage_error.h"
#include "values/word_codec.h"

namespace kestova::cli {
namespace {

std::vector<Word> ToWords(const std::vector<int>& image) {
  std::vector<Word> words;
  for (const int value : image) words.push_back(static_cast<Word>(value));
  return words;
}

// The shortest text that gives the same float back: 3.5, 0.1, 1e+20.
std::string FloatText(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string("?");
}

std::string HexText(Word word) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(word));
  return text;
}

double ParseFloat(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) throw UsageError("bad float '" + text + "' for VALUE");
  return value;
}

// Hexadecimal digits with or without 0x, up to FFFF.
std::int64_t ParseHex(const std::string& text) {
  const std::string_view digits =
      text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? std::string_view(text).substr(2) : text;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value > 0xFFFF) {
    throw UsageError("bad hex word '" + text + "' for VALUE (0 to FFFF)");
  }
  return value;
}

}  // namespace

std::optional<ValueForm> ValueFormNamed(std::string_view name) {
  const std::pair<std::string_view, ValueForm> forms[] = {
      {"int16", ValueForm::kInt16}, {"uint16", ValueForm::kUInt16}, {"int32", ValueForm::kInt32},
      {"uint32", ValueForm::kUInt32}, {"float", ValueForm::kFloat}, {"hex", ValueForm::kHex},
      {"text", ValueForm::kText}};
  for (const auto& [text, form] : forms) {
    if (text == name) return form;
  }
  return std::nullopt;
}

std::int64_t WordsOf(ValueForm form, std::int64_t points) {
  switch (form) {
    case ValueForm::kInt32:
    case ValueForm::kUInt32:
    case ValueForm::kFloat:
      return points * 2;
    case ValueForm::kText:
      return (points + 1) / 2;
    default:
      return points;
  }
}

std::vector<ShownValue> ShowValues(ValueForm form, const DeviceAddress& head, const std::vector<int>& image,
                                   std::int64_t points) {
  std::vector<ShownValue> shown;
  const auto label = [&head](std::size_t k) {
    return DeviceLabel(head.family, head.number + static_cast<std::int64_t>(k));
  };
  const std::vector<Word> words = ToWords(image);
  // A 32-bit value is labelled with the first of its two devices.
  const auto show_pairs = [&](const auto& values) {
    for (std::size_t k = 0; k < values.size(); ++k) {
      shown.push_back({label(2 * k), std::to_string(values[k]), values[k]});
    }
  };
  switch (form) {
    case ValueForm::kPlain:
      for (std::size_t k = 0; k < image.size(); ++k) shown.push_back({label(k), std::to_string(image[k]), image[k]});
      break;
    case ValueForm::kInt16:
    case ValueForm::kUInt16:
    case ValueForm::kHex:
      for (std::size_t k = 0; k < words.size(); ++k) {
        const int value = form == ValueForm::kInt16 ? static_cast<std::int16_t>(words[k]) : words[k];
        if (form == ValueForm::kHex) {
          shown.push_back({label(k), HexText(words[k]), HexText(words[k])});
        } else {
          shown.push_back({label(k), std::to_string(value), value});
        }
      }
      break;
    case ValueForm::kInt32:
      show_pairs(DecodeInt32(words));
      break;
    case ValueForm::kUInt32:
      show_pairs(DecodeUInt32(words));
      break;
    case ValueForm::kFloat: {
      const std::vector<float> values = DecodeFloat(words);
      for (std::size_t k = 0; k < values.size(); ++k) {
        const std::string text = FloatText(values[k]);
        // The shortest text read back as a double, so 0.1f shows as 0.1 in JSON too.
        nlohmann::ordered_json json = nullptr;
        if (std::isfinite(values[k])) json = std::strtod(text.c_str(), nullptr);
        shown.push_back({label(2 * k), text, json});
      }
      break;
    }
    case ValueForm::kText: {
      const std::string text = DecodeText(words, static_cast<std::size_t>(points));
      shown.push_back({label(0), text, text});
      break;
    }
  }
  return shown;
}

std::vector<std::int16_t> EncodeValues(ValueForm form, const std::vector<std::string>& texts) {
  std::vector<Word> words;
  if (form == ValueForm::kText) {
    if (texts.size() != 1) throw UsageError("--as text takes one VALUE (quote text with blanks)");
    words = EncodeText(texts[0]);
    if (words.empty()) throw UsageError("--as text needs at least one character");
  } else if (form == ValueForm::kFloat) {
    std::vector<double> values;
    for (const std::string& text : texts) values.push_back(ParseFloat(text));
    words = EncodeFloat(values);
  } else {
    std::vector<std::int64_t> values;
    for (const std::string& text : texts) {
      values.push_back(form == ValueForm::kHex ? ParseHex(text) : ParseNumber(text, "VALUE"));
    }
    switch (form) {
      case ValueForm::kInt16: words = EncodeInt16(values); break;
      case ValueForm::kInt32: words = EncodeInt32(values); break;
      case ValueForm::kUInt32: words = EncodeUInt32(values); break;
      default: words = EncodeUInt16(values); break;  // uint16 and hex
    }
  }
  std::vector<std::int16_t> data;
  for (const Word w : words) data.push_back(static_cast<std::int16_t>(w));
  return data;
}

}  // namespace kestova::cli
