#include "cli/device_notation.h"

#include <array>
#include <cctype>
#include <limits>

#include "cli/usage_error.h"

namespace kestova::cli {
namespace {

struct FamilyEntry {
  std::string_view name;
  DeviceFamily family;
  bool hex;
};

// Two-letter names first: the first entry whose name prefixes the text wins.
constexpr std::array<FamilyEntry, kDeviceFamilyCount> kFamilies{{
    {"SB", DeviceFamily::SB, true},
    {"SM", DeviceFamily::SM, false},
    {"SD", DeviceFamily::SD, false},
    {"SW", DeviceFamily::SW, true},
    {"ZR", DeviceFamily::ZR, false},
    {"X", DeviceFamily::X, true},
    {"Y", DeviceFamily::Y, true},
    {"M", DeviceFamily::M, false},
    {"B", DeviceFamily::B, true},
    {"L", DeviceFamily::L, false},
    {"F", DeviceFamily::F, false},
    {"S", DeviceFamily::S, false},
    {"D", DeviceFamily::D, false},
    {"W", DeviceFamily::W, true},
}};

const FamilyEntry& EntryFor(DeviceFamily family) {
  for (const FamilyEntry& entry : kFamilies) {
    if (entry.family == family) return entry;
  }
  return kFamilies.front();  // unreachable: every family has an entry
}

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

std::string_view FamilyName(DeviceFamily family) { return EntryFor(family).name; }

bool IsHexNumbered(DeviceFamily family) { return EntryFor(family).hex; }

DeviceAddress ParseDevice(std::string_view text) {
  const FamilyEntry* match = nullptr;
  for (const FamilyEntry& entry : kFamilies) {
    if (StartsWithIgnoringCase(text, entry.name)) {
      match = &entry;
      break;
    }
  }
  if (match == nullptr) {
    throw UsageError("unknown device family in '" + std::string(text) +
                     "' (X Y M L F S B SB SM SD SW D W ZR)");
  }
  const std::string_view digits = text.substr(match->name.size());
  const int base = match->hex ? 16 : 10;
  const std::string base_name = match->hex ? "hexadecimal" : "decimal";
  if (digits.empty()) {
    throw UsageError("device '" + std::string(text) + "' has no number (" +
                     std::string(match->name) + " is numbered in " + base_name + ")");
  }
  std::int64_t number = 0;
  for (const char c : digits) {
    const int digit = DigitValue(c);
    if (digit < 0 || digit >= base) {
      throw UsageError("bad device number in '" + std::string(text) + "' (" +
                       std::string(match->name) + " is numbered in " + base_name + ")");
    }
    number = number * base + digit;
    if (number > std::numeric_limits<std::int32_t>::max()) {
      throw UsageError("device number too large in '" + std::string(text) + "'");
    }
  }
  return {match->family, number};
}

std::string DeviceLabel(DeviceFamily family, std::int64_t number) {
  const FamilyEntry& entry = EntryFor(family);
  std::string digits;
  const int base = entry.hex ? 16 : 10;
  std::uint64_t rest = static_cast<std::uint64_t>(number < 0 ? -number : number);
  do {
    digits.insert(digits.begin(), "0123456789ABCDEF"[rest % static_cast<std::uint64_t>(base)]);
    rest /= static_cast<std::uint64_t>(base);
  } while (rest != 0);
  return std::string(entry.name) + (number < 0 ? "-" : "") + digits;
}

}  // namespace kestova::cli
