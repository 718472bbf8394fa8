#include "operations/block_write.h"

#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

#include "control/device_family.h"
#include "link/automation_error.h"
#include "link/frame.h"

namespace kestova::operations {
namespace {

constexpr std::int16_t kMaxWritePoints = 480;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The head device number: blanks, an optional sign, decimal digits, blanks — nothing
// else. A decimal point or exponent would be rounded to some other device, so they are
// refused. A number outside the 32-bit range overflows.
std::optional<std::int32_t> ParseHeadNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digits_start = i;
  std::int64_t value = 0;
  bool overflow = false;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    value = value * 10 + (text[i++] - '0');
    if (value > (std::int64_t{1} << 32)) {
      overflow = true;
      value = std::int64_t{1} << 32;
    }
  }
  if (i == digits_start) return std::nullopt;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i != text.size()) return std::nullopt;
  if (negative) value = -value;
  if (overflow || value < INT32_MIN || value > INT32_MAX) throw AutomationError(ErrorNumber::Overflow);
  return static_cast<std::int32_t>(value);
}

// The family a prefix names when it takes the block write: "D", "w", "zR" ...
const DeviceFamilyFacts* BlockFamily(std::string_view prefix) {
  for (const DeviceFamilyFacts& facts : AllDeviceFamilies()) {
    if (facts.block_write_refused == nullptr || facts.name.size() != prefix.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < prefix.size(); ++k) {
      same = same && std::toupper(static_cast<unsigned char>(prefix[k])) == facts.name[k];
    }
    if (same) return &facts;
  }
  return nullptr;
}

}  // namespace

std::int16_t WriteBlock(OperationContext& context, const std::string& device, std::int16_t points,
                        const IntegerArray& data) {
  if (points < 1 || points > kMaxWritePoints) {
    context.Raise("Write Points should be from 1 to 480");
    return 1;
  }
  // Only the upper bound counts here; a missing element below the lower bound shows
  // when the frame is built.
  if (data.dimensions != 1) throw AutomationError(ErrorNumber::SubscriptOutOfRange);
  const std::int64_t upper = static_cast<std::int64_t>(data.lower_bound) +
                             static_cast<std::int64_t>(data.elements.size()) - 1;
  if (upper + 1 < points) {
    context.Raise("Dimension of data array less then the write points when writing block");
    return 1;
  }

  // The prefix is ZR in any letter case, else the first character; the number is tested
  // before the prefix, so "X12" gets the prefix text but "Xab" the numeric one.
  if (device.empty()) throw AutomationError(ErrorNumber::InvalidCall);
  const bool zr_prefix = device.size() >= 2 && std::toupper(static_cast<unsigned char>(device[0])) == 'Z' &&
                         std::toupper(static_cast<unsigned char>(device[1])) == 'R';
  const std::string_view prefix(device.data(), zr_prefix ? 2 : 1);
  const std::optional<std::int32_t> head = ParseHeadNumber(std::string_view(device).substr(prefix.size()));
  if (!head) {
    context.Raise("Device Invalid, What follows D, W or  ZR should be a numeric");
    return 1;
  }
  const DeviceFamilyFacts* family = BlockFamily(prefix);
  if (family == nullptr) {
    context.Raise("Device Invalid, Should start with D, W or  ZR");
    return 1;
  }
  // The block may end on the family's last device itself.
  if (static_cast<std::int64_t>(*head) + points - 1 > family->limit) {
    context.Raise(family->block_write_refused);
    return 1;
  }

  ExchangePlan plan;
  plan.operation = "WriteBlock";
  plan.timeout_log_text = "WriteBlock Time Out";
  plan.build_request = [&] {
    const auto number = DeviceNumberBytes(*head);
    Request request{0x0000, 0x1401, 0x0000,
                    {number[0], number[1], number[2], family->device_code,
                     static_cast<std::uint8_t>(points & 0xFF), static_cast<std::uint8_t>(points >> 8)}};
    request.data.reserve(request.data.size() + 2 * static_cast<std::size_t>(points));
    for (std::int64_t k = 0; k < points; ++k) {
      if (k < data.lower_bound) throw AutomationError(ErrorNumber::SubscriptOutOfRange);
      const auto word = static_cast<std::uint16_t>(data.elements[static_cast<std::size_t>(k - data.lower_bound)]);
      request.data.push_back(static_cast<std::uint8_t>(word & 0xFF));
      request.data.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    return request;
  };
  return context.Exchange(plan);
}

}  // namespace kestova::operations
