#pragma once
// The control's copy of the PLC devices last read: one array per family, sized by the
// family's limit, all zero at creation, written only by the batch read. Bits are stored
// one per element.

#include <array>
#include <cstdint>
#include <vector>

#include "control/device_family.h"

namespace kestova {

class DeviceImage {
 public:
  DeviceImage();

  // Writers for the batch read; the index must lie inside the array (checked, error 9).
  void SetBit(DeviceFamily family, std::int32_t index, bool value);
  void SetWord(DeviceFamily family, std::int32_t index, std::int16_t value);

  // The getters' rule: a guarded family gives False / 0 above its limit without touching
  // the array; otherwise an index outside the array (negative, or above its last
  // element) raises Subscript out of range (9).
  bool Bit(DeviceFamily family, std::int32_t index) const;
  std::int16_t Word(DeviceFamily family, std::int32_t index) const;
  // Either kind as a number: a bit as 1 or 0, a word as its signed value.
  int Value(DeviceFamily family, std::int32_t index) const;

 private:
  std::array<std::vector<std::int16_t>, kDeviceFamilyCount> arrays_;
  // The element the getters read: nullptr above a guarded family's limit.
  const std::int16_t* Guarded(DeviceFamily family, std::int32_t index) const;
  std::int16_t& Element(DeviceFamily family, std::int32_t index);
};

}  // namespace kestova
