#pragma once
// How the tool shows and takes the words of a device (--as). Without --as a read shows
// each word signed (bit families 16 devices a word) and a write takes one word. With --as
// the POINTS of a read count values, not words: an int32, uint32 or float takes two
// words (low word at the lower device), text takes one word per two characters and
// POINTS is its length in characters. Each value is labelled with its first device.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "values/device_name.h"

namespace kestova::cli {

enum class ValueForm { kPlain, kInt16, kUInt16, kInt32, kUInt32, kFloat, kHex, kText };

inline constexpr const char* kValueFormNames = "int16, uint16, int32, uint32, float, hex or text";
std::optional<ValueForm> ValueFormNamed(std::string_view name);

// The words a read of `points` needs in `form`.
std::int64_t WordsOf(ValueForm form, std::int64_t points);

struct ShownValue {
  std::string device;  // "D200"
  std::string text;    // "3.5", "0x1234", "ABC"
  nlohmann::ordered_json json;  // a number; hex and text as strings; NaN and infinities null

  bool operator==(const ShownValue& other) const { return device == other.device && text == other.text; }
};

// The values of a read from `head`: `image` holds what the control's image gives for each
// word (for a bit family, each bit), `points` is the read's POINTS.
std::vector<ShownValue> ShowValues(ValueForm form, const DeviceAddress& head, const std::vector<int>& image,
                                   std::int64_t points);

// The words a typed write sends for VALUE texts. Throws UsageError for a text that is not
// a number of the form, ValueError for a number that does not fit it.
std::vector<std::int16_t> EncodeValues(ValueForm form, const std::vector<std::string>& texts);

}  // namespace kestova::cli
