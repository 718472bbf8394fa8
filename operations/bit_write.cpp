// The six set and six reset methods: one bit by a random write in bit units
// (0x1402/0x0001, one point). This request alone carries 0x0013 in its byte-count field.

#include "control/tarvane.h"
#include "link/automation_error.h"
#include "link/frame.h"
#include "link/exchange.h"

namespace kestova {
namespace {

constexpr std::int16_t kM = 0x90, kY = 0x9D, kB = 0xA0, kL = 0x92, kF = 0x93, kS = 0x98;
constexpr std::int32_t kRelayLimit = 8191;

}  // namespace

// A refused address is a failed write: result 1, with the family's message.
std::int16_t Tarvane::CheckedBitWrite(std::int32_t limit, const char* over_limit_message,
                                      std::int16_t device_code, std::int32_t address,
                                      std::int16_t value) {
  if (address > limit) {
    Raise(over_limit_message);
    return 1;
  }
  return WriteSingleBit(device_code, address, value);
}

std::int16_t Tarvane::SetM(std::int32_t a) { return CheckedBitWrite(limits_.m, "M Address OverLimit", kM, a, 1); }
std::int16_t Tarvane::SetY(std::int32_t a) { return CheckedBitWrite(limits_.y, " Y Address OverLimit", kY, a, 1); }
std::int16_t Tarvane::SetB(std::int32_t a) { return CheckedBitWrite(limits_.b, "B Address OverLimit", kB, a, 1); }
std::int16_t Tarvane::SetL(std::int32_t a) { return CheckedBitWrite(kRelayLimit, "L Address OverLimit, max 8191", kL, a, 1); }
std::int16_t Tarvane::SetF(std::int32_t a) { return CheckedBitWrite(kRelayLimit, "F Address OverLimit, max 8191", kF, a, 1); }
std::int16_t Tarvane::SetS(std::int32_t a) { return CheckedBitWrite(kRelayLimit, "S Address OverLimit, max 8191", kS, a, 1); }
std::int16_t Tarvane::ResetY(std::int32_t a) { return CheckedBitWrite(limits_.y, "Y Address OverLimit", kY, a, 0); }
std::int16_t Tarvane::ResetM(std::int32_t a) { return CheckedBitWrite(limits_.m, "M Address OverLimit", kM, a, 0); }
std::int16_t Tarvane::ResetB(std::int32_t a) { return CheckedBitWrite(limits_.b, "B Address OverLimit", kB, a, 0); }
std::int16_t Tarvane::ResetL(std::int32_t a) { return CheckedBitWrite(kRelayLimit, "L Address OverLimit, max 8191", kL, a, 0); }
std::int16_t Tarvane::ResetF(std::int32_t a) { return CheckedBitWrite(kRelayLimit, "F Address OverLimit, max 8191", kF, a, 0); }
std::int16_t Tarvane::ResetS(std::int32_t a) { return CheckedBitWrite(kRelayLimit, "S Address OverLimit, max 8191", kS, a, 0); }

std::int16_t Tarvane::SwitchBit(DeviceFamily family, std::int32_t address, bool on) {
  switch (family) {
    case DeviceFamily::M: return on ? SetM(address) : ResetM(address);
    case DeviceFamily::Y: return on ? SetY(address) : ResetY(address);
    case DeviceFamily::B: return on ? SetB(address) : ResetB(address);
    case DeviceFamily::L: return on ? SetL(address) : ResetL(address);
    case DeviceFamily::F: return on ? SetF(address) : ResetF(address);
    case DeviceFamily::S: return on ? SetS(address) : ResetS(address);
    default: throw AutomationError(ErrorNumber::InvalidCall);  // inputs cannot be switched
  }
}

std::int16_t Tarvane::WriteSingleBit(std::int16_t device_code, std::int32_t address,
                                     std::int16_t value) {
  ExchangePlan plan;
  plan.operation = "WriteSingleBit";
  plan.timeout_log_text = "WriteSingleBit Time Out";
  plan.build_request = [&] {
    const auto number = DeviceNumberBytes(address);
    return Request{0x0013, 0x1402, 0x0001,
                   {0x01, number[0], number[1], number[2], ToByte(device_code),
                    static_cast<std::uint8_t>(value != 0 ? 0x01 : 0x00)}};
  };
  return Exchange(plan);
}

}  // namespace kestova
