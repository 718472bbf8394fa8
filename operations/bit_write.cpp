// The six set and six reset methods: one bit by a random write in bit units
// (0x1402/0x0001, one point). This request alone carries 0x0013 in its byte-count field.

#include "control/tarvane.h"
#include "link/automation_error.h"
#include "link/frame.h"
#include "link/exchange.h"

namespace kestova {

std::int16_t Tarvane::SetM(std::int32_t a) { return SwitchBit(DeviceFamily::M, a, true); }
std::int16_t Tarvane::SetY(std::int32_t a) { return SwitchBit(DeviceFamily::Y, a, true); }
std::int16_t Tarvane::SetB(std::int32_t a) { return SwitchBit(DeviceFamily::B, a, true); }
std::int16_t Tarvane::SetL(std::int32_t a) { return SwitchBit(DeviceFamily::L, a, true); }
std::int16_t Tarvane::SetF(std::int32_t a) { return SwitchBit(DeviceFamily::F, a, true); }
std::int16_t Tarvane::SetS(std::int32_t a) { return SwitchBit(DeviceFamily::S, a, true); }
std::int16_t Tarvane::ResetY(std::int32_t a) { return SwitchBit(DeviceFamily::Y, a, false); }
std::int16_t Tarvane::ResetM(std::int32_t a) { return SwitchBit(DeviceFamily::M, a, false); }
std::int16_t Tarvane::ResetB(std::int32_t a) { return SwitchBit(DeviceFamily::B, a, false); }
std::int16_t Tarvane::ResetL(std::int32_t a) { return SwitchBit(DeviceFamily::L, a, false); }
std::int16_t Tarvane::ResetF(std::int32_t a) { return SwitchBit(DeviceFamily::F, a, false); }
std::int16_t Tarvane::ResetS(std::int32_t a) { return SwitchBit(DeviceFamily::S, a, false); }

std::int16_t Tarvane::SwitchBit(DeviceFamily family, std::int32_t address, bool on) {
  const DeviceFamilyFacts& facts = FactsOf(family);
  if (!TakesBitWrite(family)) throw AutomationError(ErrorNumber::InvalidCall);
  // A refused address is a failed write: result 1, with the family's text.
  if (address > facts.limit) {
    Raise(on ? facts.set_refused : facts.reset_refused);
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
  return Exchange(plan);
}

}  // namespace kestova
