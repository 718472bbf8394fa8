#include "control/variant.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "link/automation_error.h"

namespace kestova {
namespace {

[[noreturn]] void Mismatch() { throw AutomationError(ErrorNumber::TypeMismatch); }

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A numeric text as automation reads it: blanks, an optional sign, digits with an
// optional decimal point and exponent.
std::optional<double> ParseNumber(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

template <typename Int>
Int ToRangedInteger(double value) {
  const double rounded = std::nearbyint(value);  // half to even
  if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
    throw AutomationError(ErrorNumber::Overflow);
  }
  return static_cast<Int>(rounded);
}

template <typename Int>
Int ToInteger(const Variant& value) {
  if (const bool* b = std::get_if<bool>(&value)) return static_cast<Int>(*b ? -1 : 0);
  if (const auto* i = std::get_if<std::int16_t>(&value)) return static_cast<Int>(*i);
  if (const auto* l = std::get_if<std::int32_t>(&value)) return ToRangedInteger<Int>(*l);
  const std::string& text = std::get<std::string>(value);
  const std::optional<double> number = ParseNumber(text);
  if (!number) Mismatch();
  return ToRangedInteger<Int>(*number);
}

}  // namespace

bool VariantToBoolean(const Variant& value) {
  if (const bool* b = std::get_if<bool>(&value)) return *b;
  if (const auto* i = std::get_if<std::int16_t>(&value)) return *i != 0;
  if (const auto* l = std::get_if<std::int32_t>(&value)) return *l != 0;
  const std::string& text = std::get<std::string>(value);
  const std::string word = Lower(TrimBlanks(text));
  if (word == "true") return true;
  if (word == "false") return false;
  const std::optional<double> number = ParseNumber(text);
  if (!number) Mismatch();
  return *number != 0;
}

std::int16_t VariantToInteger(const Variant& value) { return ToInteger<std::int16_t>(value); }

std::int32_t VariantToLong(const Variant& value) { return ToInteger<std::int32_t>(value); }

std::string VariantToString(const Variant& value) {
  if (const bool* b = std::get_if<bool>(&value)) return *b ? "True" : "False";
  if (const auto* i = std::get_if<std::int16_t>(&value)) return std::to_string(*i);
  if (const auto* l = std::get_if<std::int32_t>(&value)) return std::to_string(*l);
  return std::get<std::string>(value);
}

}  // namespace kestova
