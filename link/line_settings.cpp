#include "link/line_settings.h"

#include <cctype>
#include <charconv>
#include <vector>

#include "link/automation_error.h"

namespace kestova {
namespace {

[[noreturn]] void Invalid() { throw AutomationError(ErrorNumber::InvalidPropertyValue); }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

long ParsePositive(std::string_view s) {
  long value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value <= 0) Invalid();
  return value;
}

}  // namespace

int LineSettings::BitsPerCharacter() const {
  int bits = 1 + data_bits + (parity == Parity::None ? 0 : 1);
  bits += stop_bits == StopBits::One ? 1 : 2;
  return bits;
}

std::chrono::nanoseconds LineSettings::CharacterTime() const {
  return std::chrono::nanoseconds(1'000'000'000LL * BitsPerCharacter() / baud);
}

LineSettings ParseLineSettings(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    fields.push_back(Trim(text.substr(start, comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (fields.size() != 4) Invalid();

  LineSettings settings;
  settings.baud = ParsePositive(fields[0]);

  if (fields[1].size() != 1) Invalid();
  switch (std::toupper(static_cast<unsigned char>(fields[1][0]))) {
    case 'N': settings.parity = Parity::None; break;
    case 'E': settings.parity = Parity::Even; break;
    case 'O': settings.parity = Parity::Odd; break;
    case 'M': settings.parity = Parity::Mark; break;
    case 'S': settings.parity = Parity::Space; break;
    default: Invalid();
  }

  long data_bits = ParsePositive(fields[2]);
  if (data_bits < 5 || data_bits > 8) Invalid();
  settings.data_bits = static_cast<int>(data_bits);

  if (fields[3] == "1") {
    settings.stop_bits = StopBits::One;
  } else if (fields[3] == "1.5") {
    settings.stop_bits = StopBits::OnePointFive;
  } else if (fields[3] == "2") {
    settings.stop_bits = StopBits::Two;
  } else {
    Invalid();
  }
  return settings;
}

}  // namespace kestova
