// WriteD, WriteW, WriteZR: one word by a batch write (0x1401, word units, one point).

#include "control/tarvane.h"
#include "link/automation_error.h"
#include "link/frame.h"
#include "link/exchange.h"

namespace kestova {

std::int16_t Tarvane::WriteD(std::int32_t address, std::int16_t value) {
  if (address > limits_.d) {
    Raise("D Address OverLimit");
    return 1;
  }
  return WriteSingleWord(0xA8, address, value);
}

std::int16_t Tarvane::WriteW(std::int32_t address, std::int16_t value) {
  if (address > limits_.w) {
    Raise("W Address OverLimit");
    return 1;
  }
  return WriteSingleWord(0xB4, address, value);
}

std::int16_t Tarvane::WriteZR(std::int32_t address, std::int16_t value) {
  if (address > limits_.zr) {
    Raise("ZR Address OverLimit");
    return 1;
  }
  return WriteSingleWord(0xB0, address, value);
}

std::int16_t Tarvane::WriteWord(DeviceFamily family, std::int32_t address, std::int16_t value) {
  switch (family) {
    case DeviceFamily::D: return WriteD(address, value);
    case DeviceFamily::W: return WriteW(address, value);
    case DeviceFamily::ZR: return WriteZR(address, value);
    default: throw AutomationError(ErrorNumber::InvalidCall);
  }
}

std::int16_t Tarvane::WriteSingleWord(std::int16_t device_code, std::int32_t address,
                                      std::int16_t value) {
  ExchangePlan plan;
  plan.operation = "WriteSingleWord";
  plan.timeout_log_text = "WriteSingleWord Time Out";
  plan.build_request = [&] {
    const auto head = DeviceNumberBytes(address);
    const auto bits = static_cast<std::uint16_t>(value);
    return Request{0x0000, 0x1401, 0x0000,
                   {head[0], head[1], head[2], ToByte(device_code), 0x01, 0x00,
                    static_cast<std::uint8_t>(bits & 0xFF), static_cast<std::uint8_t>(bits >> 8)}};
  };
  return Exchange(plan);
}

}  // namespace kestova
