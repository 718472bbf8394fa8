#include "operations/bit_write.h"

#include "link/automation_error.h"
#include "link/frame.h"

namespace kestova::operations {

std::int16_t SwitchBit(OperationContext& context, DeviceFamily family, std::int32_t address, bool on) {
  const DeviceFamilyFacts& facts = FactsOf(family);
  if (!TakesBitWrite(family)) throw AutomationError(ErrorNumber::InvalidCall);
  // A refused address is a failed write: result 1, with the family's text.
  if (address > facts.limit) {
    context.Raise(on ? facts.set_refused : facts.reset_refused);
    return 1;
  }

  // WriteSingleBit.
  ExchangePlan plan;
  plan.operation = "WriteSingleBit";
  plan.timeout_log_text = "WriteSingleBit Time Out";
  plan.build_request = [&] {
    const auto number = DeviceNumberBytes(address);
    return Request{0x0013, 0x1402, 0x0001,
                   {0x01, number[0], number[1], number[2], facts.device_code,
                    static_cast<std::uint8_t>(on ? 0x01 : 0x00)}};
  };
  return context.Exchange(plan);
}

}  // namespace kestova::operations
