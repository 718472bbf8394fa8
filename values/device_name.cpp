#include "values/device_name.h"

#include <cctype>
#include <limits>

#include "values/value_error.h"

namespace kestova {
namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const int upper = std::toupper(static_cast<unsigned char>(c));
  if (upper >= 'A' && upper <= 'F') return upper - 'A' + 10;
  return -1;
}

}  // namespace

DeviceAddress ParseDevice(std::string_view text) {
  // The longest name that starts the text: "SD5" is special register 5, not step relay D5.
  const DeviceFamilyFacts* match = nullptr;
  for (const DeviceFamilyFacts& facts : AllDeviceFamilies()) {
    if (StartsWithIgnoringCase(text, facts.name) && (match == nullptr || facts.name.size() > match->name.size())) {
      match = &facts;
    }
  }
  if (match == nullptr) {
    throw ValueError("unknown device family in '" + std::string(text) +
                     "' (X Y M L F S B SB SM SD SW D W ZR)");
  }
  std::string_view digits = text.substr(match->name.size());
  std::optional<int> bit;
  if (const std::size_t dot = digits.find('.'); dot != std::string_view::npos) {
    const std::string_view bit_text = digits.substr(dot + 1);
    if (match->bits) {
      throw ValueError("'" + std::string(text) + "' is a bit device; only a word device takes a bit number");
    }
    if (bit_text.size() != 1 || DigitValue(bit_text[0]) < 0) {
      throw ValueError("bad bit in '" + std::string(text) + "' (one hexadecimal digit 0-F after the dot)");
    }
    bit = DigitValue(bit_text[0]);
    digits = digits.substr(0, dot);
  }
  const int base = match->notation_radix;
  const std::string base_name = base == 16 ? "hexadecimal" : "decimal";
  if (digits.empty()) {
    throw ValueError("device '" + std::string(text) + "' has no number (" +
                     std::string(match->name) + " is numbered in " + base_name + ")");
  }
  std::int64_t number = 0;
  for (const char c : digits) {
    const int digit = DigitValue(c);
    if (digit < 0 || digit >= base) {
      throw ValueError("bad device number in '" + std::string(text) + "' (" +
                       std::string(match->name) + " is numbered in " + base_name + ")");
    }
    number = number * base + digit;
    if (number > std::numeric_limits<std::int32_t>::max()) {
      throw ValueError("device number too large in '" + std::string(text) + "'");
    }
  }
  return {match->family, number, bit};
}

std::string DeviceLabel(DeviceFamily family, std::int64_t number) {
  const DeviceFamilyFacts& facts = FactsOf(family);
  std::string digits;
  const int base = facts.notation_radix;
  std::uint64_t rest = static_cast<std::uint64_t>(number < 0 ? -number : number);
  do {
    digits.insert(digits.begin(), "0123456789ABCDEF"[rest % static_cast<std::uint64_t>(base)]);
    rest /= static_cast<std::uint64_t>(base);
  } while (rest != 0);
  return std::string(facts.name) + (number < 0 ? "-" : "") + digits;
}

}  // namespace kestova
