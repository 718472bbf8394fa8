#include "operations/batch_read.h"

#include <limits>

#include "link/automation_error.h"
#include "link/frame.h"

namespace kestova::operations {
namespace {

constexpr std::int16_t kMaxReadPoints = 480;
constexpr int kBitsPerWord = 16;

// ReadWord: the exchange and the unpacking into the image, after the checks passed.
std::int16_t ReadWord(OperationContext& context, const DeviceFamilyFacts& facts,
                      std::int32_t start_address, std::int16_t read_points) {
  const std::uint8_t code = facts.device_code;
  ExchangePlan plan;
  plan.operation = "ReadWord";
  plan.timeout_log_text = "ReadWord Time Out " + HexNumber(code);
  plan.read_device_code = code;
  plan.answer_length_without_sum = 18 + 2 * read_points;
  plan.build_request = [&] {
    const auto head = DeviceNumberBytes(start_address);
    return Request{0x0000, 0x0401, 0x0000,
                   {head[0], head[1], head[2], code,
                    static_cast<std::uint8_t>(read_points & 0xFF),
                    static_cast<std::uint8_t>((read_points >> 8) & 0xFF)}};
  };
  plan.unpack = [&](std::span<const std::uint8_t> data) {
    DeviceImage& image = context.image();
    for (std::int32_t w = 0; w < read_points; ++w) {
      const auto low = data[static_cast<std::size_t>(2 * w)];
      const auto high = data[static_cast<std::size_t>(2 * w + 1)];
      if (facts.bits) {
        const std::uint16_t word = static_cast<std::uint16_t>(high << 8 | low);
        for (int b = 0; b < kBitsPerWord; ++b) {
          image.SetBit(facts.family, start_address + kBitsPerWord * w + b, (word >> b) & 1);
        }
      } else {
        image.SetWord(facts.family, start_address + w, static_cast<std::int16_t>(high << 8 | low));
      }
    }
  };
  return context.Exchange(plan);
}

}  // namespace

std::int16_t BatchRead(OperationContext& context, DeviceFamily family, std::int32_t start_address,
                       std::int16_t read_points) {
  const DeviceFamilyFacts& facts = FactsOf(family);
  // Points x 16 is an Integer product: outside -2048..2047 it overflows.
  if (facts.bits && (read_points < -2048 || read_points > 2047)) {
    throw AutomationError(ErrorNumber::Overflow);
  }
  const std::int64_t span = static_cast<std::int64_t>(read_points) * (facts.bits ? kBitsPerWord : 1);
  const std::int64_t end = start_address + span;
  if (end < std::numeric_limits<std::int32_t>::min() || end > std::numeric_limits<std::int32_t>::max()) {
    throw AutomationError(ErrorNumber::Overflow);
  }

  // The read may end on the family's last device itself.
  if (!(start_address >= 0 && start_address <= facts.limit && end - 1 <= facts.limit)) {
    context.Raise(facts.read_refused);
    return 1;
  }
  if (read_points < 1 || read_points > kMaxReadPoints) {
    context.Raise("Read Points Invalid, Should be from 1 to 480");
    return 1;
  }
  return ReadWord(context, facts, start_address, read_points);
}

}  // namespace kestova::operations
