#include "cli/number_text.h"

#include <limits>
#include <string>

#include "cli/usage_error.h"
#include "link/automation_error.h"

namespace kestova::cli {
namespace {

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

}  // namespace

std::int64_t ParseNumber(std::string_view text, std::string_view what) {
  const auto bad = [&] {
    return UsageError("bad number '" + std::string(text) + "' for " + std::string(what));
  };
  std::string_view rest = text;
  bool negative = false;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  int base = 10;
  if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    base = 16;
    rest.remove_prefix(2);
  }
  if (rest.empty()) throw bad();

  // Accumulated as a magnitude in unsigned 64 bits so that the most negative value fits.
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t magnitude = 0;
  for (const char c : rest) {
    const int digit = DigitValue(c, base);
    if (digit < 0) throw bad();
    const auto d = static_cast<std::uint64_t>(digit);
    if (magnitude > (limit - d) / static_cast<std::uint64_t>(base)) throw bad();
    magnitude = magnitude * static_cast<std::uint64_t>(base) + d;
  }
  if (negative) return magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                                          : -static_cast<std::int64_t>(magnitude);
  return static_cast<std::int64_t>(magnitude);
}

std::int16_t ToInteger(std::int64_t value) {
  if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max()) {
    throw AutomationError(ErrorNumber::Overflow);
  }
  return static_cast<std::int16_t>(value);
}

std::int32_t ToLong(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    throw AutomationError(ErrorNumber::Overflow);
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace kestova::cli
