// WriteD, WriteW, WriteZR: one word by a batch write (0x1401, word units, one point).

#include "control/tarvane.h"
#include "link/automation_error.h"
#include "link/frame.h"
#include "link/exchange.h"

namespace kestova {

std::int16_t Tarvane::WriteD(std::int32_t a, std::int16_t v) { return WriteWord(DeviceFamily::D, a, v); }
std::int16_t Tarvane::WriteW(std::int32_t a, std::int16_t v) { return WriteWord(DeviceFamily::W, a, v); }
std::int16_t Tarvane::WriteZR(std::int32_t a, std::int16_t v) { return WriteWord(DeviceFamily::ZR, a, v); }

std::int16_t Tarvane::WriteWord(DeviceFamily family, std::int32_t address, std::int16_t value) {
  const DeviceFamilyFacts& facts = FactsOf(family);
  if (!TakesWordWrite(family)) throw AutomationError(ErrorNumber::InvalidCall);
  // A refused address is a failed write: result 1, with the family's text.
  if (address > facts.limit) {
    Raise(facts.word_write_refused);
    return 1;
  }

  // WriteSingleWord.
  ExchangePlan plan;
  plan.operation = "WriteSingleWord";
  plan.timeout_log_text = "WriteSingleWord Time Out";
  plan.build_request = [&] {
    const auto head = DeviceNumberBytes(address);
    const auto bits = static_cast<std::uint16_t>(value);
    return Request{0x0000, 0x1401, 0x0000,
                   {head[0], head[1], head[2], facts.device_code, 0x01, 0x00,
                    static_cast<std::uint8_t>(bits & 0xFF), static_cast<std::uint8_t>(bits >> 8)}};
  };
  return Exchange(plan);
}

}  // namespace kestova
