#include "operations/word_write.h"

#include "link/automation_error.h"
#include "link/frame.h"

namespace kestova::operations {

std::int16_t WriteWord(OperationContext& context, DeviceFamily family, std::int32_t address,
                       std::int16_t value) {
  const DeviceFamilyFacts& facts = FactsOf(family);
  if (!TakesWordWrite(family)) throw AutomationError(ErrorNumber::InvalidCall);
  // A refused address is a failed write: result 1, with the family's text.
  if (address > facts.limit) {
    context.Raise(facts.word_write_refused);
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
  return context.Exchange(plan);
}

}  // namespace kestova::operations
