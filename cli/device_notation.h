#pragma once
// Devices as the PLC's own tools write them: a family ("X", "SB", "ZR"), then the device
// number in the family's notation (control/device_family.h: hexadecimal for X, Y, B, W, SB
// and SW, decimal for the others). Letters may be in either case; labels are printed in
// upper case ("X1F0", "D100").

#include <cstdint>
#include <string>
#include <string_view>

#include "control/device_family.h"

namespace kestova::cli {

struct DeviceAddress {
  DeviceFamily family = DeviceFamily::D;
  std::int64_t number = 0;

  bool operator==(const DeviceAddress&) const = default;
};

// Parses "x1f0", "D100", "ZR40000". The family is matched longest first, so "SD5" is
// special register 5, not step relay D5. Throws UsageError for an unknown family, a
// missing number, a digit that does not belong to the family's base, or a number
// beyond 32 bits. The range of the family is left to the control to judge.
DeviceAddress ParseDevice(std::string_view text);

// A device written in the PLC's notation, upper case ("X1F0", "D100").
std::string DeviceLabel(DeviceFamily family, std::int64_t number);
inline std::string DeviceLabel(const DeviceAddress& device) {
  return DeviceLabel(device.family, device.number);
}

}  // namespace kestova::cli
