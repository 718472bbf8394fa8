#include "sim/line_timing.h"

#include <cctype>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kestova::sim {
namespace {

std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(text);
  while (std::getline(in, field, ',')) {
    while (!field.empty() && std::isspace(static_cast<unsigned char>(field.front())))
      field.erase(0, 1);
    while (!field.empty() && std::isspace(static_cast<unsigned char>(field.back())))
      field.pop_back();
    fields.push_back(field);
  }
  return fields;
}

[[noreturn]] void Refuse(const std::string& settings, const std::string& what) {
  throw std::invalid_argument("line settings \"" + settings + "\": " + what);
}

std::optional<int> WholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

LineTiming LineTiming::Parse(const std::string& settings) {
  const auto fields = SplitFields(settings);
  if (fields.size() != 4) Refuse(settings, "expected baud,parity,data bits,stop bits");
  LineTiming timing;
  const auto baud = WholeNumber(fields[0]);
  if (!baud || *baud <= 0) Refuse(settings, "bad baud rate");
  timing.baud = *baud;
  const auto data_bits = WholeNumber(fields[2]);
  if (!data_bits || *data_bits < 5 || *data_bits > 8) Refuse(settings, "data bits must be 5 to 8");
  timing.data_bits = *data_bits;
  if (fields[1].size() != 1) Refuse(settings, "parity must be one of n, e, o, m, s");
  timing.parity = static_cast<char>(std::tolower(static_cast<unsigned char>(fields[1][0])));
  if (std::string("neoms").find(timing.parity) == std::string::npos)
    Refuse(settings, "parity must be one of n, e, o, m, s");
  if (fields[3] == "1")
    timing.stop_bits = 1.0;
  else if (fields[3] == "1.5")
    timing.stop_bits = 1.5;
  else if (fields[3] == "2")
    timing.stop_bits = 2.0;
  else
    Refuse(settings, "stop bits must be 1, 1.5 or 2");
  return timing;
}

double LineTiming::BitsPerCharacter() const {
  return 1.0 + data_bits + (parity == 'n' ? 0.0 : 1.0) + stop_bits;
}

std::chrono::nanoseconds LineTiming::CharacterTime() const {
  return std::chrono::nanoseconds(
      static_cast<std::int64_t>(BitsPerCharacter() * 1e9 / static_cast<double>(baud)));
}

}  // namespace kestova::sim
