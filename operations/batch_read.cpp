// The fourteen batch reads: command 0x0401 in word units, bit families 16 points per
// word. Only a read that ends with result 0 writes into the device image.

#include <limits>

#include "control/tarvane.h"
#include "link/automation_error.h"
#include "link/frame.h"
#include "link/exchange.h"

namespace kestova {
namespace {

constexpr std::int16_t kMaxReadPoints = 480;
constexpr int kBitsPerWord = 16;

}  // namespace

std::int16_t Tarvane::Read(DeviceFamily family, std::int32_t start_address,
                           std::int16_t read_points) {
  const DeviceFamilyFacts& facts = FactsOf(family);
  const bool bits = facts.bits;
  // Points x 16 is an Integer product: outside -2048..2047 it overflows.
  if (bits && (read_points < -2048 || read_points > 2047)) {
    throw AutomationError(ErrorNumber::Overflow);
  }
  const std::int64_t span = static_cast<std::int64_t>(read_points) * (bits ? kBitsPerWord : 1);
  const std::int64_t end = start_address + span;
  if (end < std::numeric_limits<std::int32_t>::min() || end > std::numeric_limits<std::int32_t>::max()) {
    throw AutomationError(ErrorNumber::Overflow);
  }

  // The read may end on the family's last device itself.
  if (!(start_address >= 0 && start_address <= facts.limit && end - 1 <= facts.limit)) {
    Raise(facts.read_refused);
    return 1;
  }
  if (read_points < 1 || read_points > kMaxReadPoints) {
    Raise("Read Points Invalid, Should be from 1 to 480");
    return 1;
  }
  return ReadWord(family, start_address, read_points);
}

std::int16_t Tarvane::ReadWord(DeviceFamily family, std::int32_t start_address,
                               std::int16_t read_points) {
  const std::uint8_t code = FactsOf(family).device_code;
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
    for (std::int32_t w = 0; w < read_points; ++w) {
      const auto low = data[static_cast<std::size_t>(2 * w)];
      const auto high = data[static_cast<std::size_t>(2 * w + 1)];
      if (IsBitFamily(family)) {
        const std::uint16_t word = static_cast<std::uint16_t>(high << 8 | low);
        for (int b = 0; b < kBitsPerWord; ++b) {
          image_.SetBit(family, start_address + kBitsPerWord * w + b, (word >> b) & 1);
        }
      } else {
        image_.SetWord(family, start_address + w, static_cast<std::int16_t>(high << 8 | low));
      }
    }
  };
  return Exchange(plan);
}

std::int16_t Tarvane::ReadX(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::X, s, p); }
std::int16_t Tarvane::ReadY(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::Y, s, p); }
Variant Tarvane::ReadM(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::M, s, p); }
std::int16_t Tarvane::ReadB(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::B, s, p); }
std::int16_t Tarvane::ReadSB(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::SB, s, p); }
std::int16_t Tarvane::ReadSM(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::SM, s, p); }
std::int16_t Tarvane::ReadL(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::L, s, p); }
std::int16_t Tarvane::ReadF(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::F, s, p); }
std::int16_t Tarvane::ReadS(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::S, s, p); }
std::int16_t Tarvane::ReadD(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::D, s, p); }
std::int16_t Tarvane::ReadSD(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::SD, s, p); }
std::int16_t Tarvane::ReadW(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::W, s, p); }
std::int16_t Tarvane::ReadSW(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::SW, s, p); }
std::int16_t Tarvane::ReadZR(std::int32_t s, std::int16_t p) { return Read(DeviceFamily::ZR, s, p); }

}  // namespace kestova
