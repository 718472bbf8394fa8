#pragma once
// Devices as the PLC's own tools write them: a family ("X", "SB", "ZR"), then the device
// number in the family's notation (control/device_family.h: hexadecimal for X, Y, B, W, SB
// and SW, decimal for the others), then for a word device an optional bit: a dot and one
// hexadecimal digit 0-F, as the PLC writes it ("D100.5", "W1A.F" is bit 15 of W26).
// Letters may be in either case; labels are printed in upper case ("X1F0", "D100").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "control/device_family.h"

namespace kestova {

struct DeviceAddress {
  DeviceFamily family = DeviceFamily::D;
  std::int64_t number = 0;
  std::optional<int> bit;  // 0..15, only on a word family

  bool operator==(const DeviceAddress&) const = default;
};

// Parses "x1f0", "D100", "ZR40000", "D100.A". The family is matched longest first, so
// "SD5" is special register 5, not step relay D5. Throws ValueError for an unknown family,
// a missing number, a digit that does not belong to the family's base, a number beyond
// 32 bits, or a bit that is not one hexadecimal digit or follows a bit family. The range
// of the family is left to the control to judge.
DeviceAddress ParseDevice(std::string_view text);

// A device written in the PLC's notation, upper case ("X1F0", "D100"); no bit.
std::string DeviceLabel(DeviceFamily family, std::int64_t number);
inline std::string DeviceLabel(const DeviceAddress& device) {
  return DeviceLabel(device.family, device.number);
}

// The head device as the control's block write reads it: the family's name and the number
// in decimal whatever the family's notation, so W1A goes as "W26".
inline std::string BlockWriteHead(const DeviceAddress& device) {
  return std::string(FactsOf(device.family).name) + std::to_string(device.number);
}

}  // namespace kestova
