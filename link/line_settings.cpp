#include "link/line_settings.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <vector>

#include "link/automation_error.h"

namespace kestova {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::optional<long> ParsePositive(std::string_view s) {
  long value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value <= 0) return std::nullopt;
  return value;
}

// The one parser: the settings, or in `fault` what is wrong with the text.
std::optional<LineSettings> Parse(std::string_view text, std::string& fault) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    fields.push_back(Trim(text.substr(start, comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (fields.size() != 4) {
    fault = std::to_string(fields.size()) + " fields: expected 4, baud,parity,data bits,stop bits";
    return std::nullopt;
  }

  LineSettings settings;
  const std::optional<long> baud = ParsePositive(fields[0]);
  if (!baud) {
    fault = "baud " + std::string(fields[0]) + ": expected a positive whole number";
    return std::nullopt;
  }
  settings.baud = *baud;

  const char parity =
      fields[1].size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(fields[1][0]))) : '?';
  switch (parity) {
    case 'N': settings.parity = Parity::None; break;
    case 'E': settings.parity = Parity::Even; break;
    case 'O': settings.parity = Parity::Odd; break;
    case 'M': settings.parity = Parity::Mark; break;
    case 'S': settings.parity = Parity::Space; break;
    default:
      fault = "parity " + std::string(fields[1]) + ": expected n, o, e, m or s";
      return std::nullopt;
  }

  const std::optional<long> data_bits = ParsePositive(fields[2]);
  if (!data_bits || *data_bits < 5 || *data_bits > 8) {
    fault = "data bits " + std::string(fields[2]) + ": expected 5, 6, 7 or 8";
    return std::nullopt;
  }
  settings.data_bits = static_cast<int>(*data_bits);

  if (fields[3] == "1") {
    settings.stop_bits = StopBits::One;
  } else if (fields[3] == "1.5") {
    settings.stop_bits = StopBits::OnePointFive;
  } else if (fields[3] == "2") {
    settings.stop_bits = StopBits::Two;
  } else {
    fault = "stop bits " + std::string(fields[3]) + ": expected 1, 1.5 or 2";
    return std::nullopt;
  }
  return settings;
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
  std::string fault;
  const std::optional<LineSettings> settings = Parse(text, fault);
  if (!settings) throw AutomationError(ErrorNumber::InvalidPropertyValue);
  return *settings;
}

std::string LineSettingsFault(std::string_view text) {
  std::string fault;
  Parse(text, fault);
  return fault;
}

}  // namespace kestova
