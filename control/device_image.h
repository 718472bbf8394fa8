#pragma once
// The control's copy of the PLC devices last read: one array per family, all zero at
// creation, written only by the batch read. Bits are stored one per byte-sized flag.

#include <array>
#include <cstdint>
#include <vector>

namespace kestova {

enum class DeviceFamily { X, Y, M, B, SM, SB, L, F, S, D, W, ZR, SD, SW };
inline constexpr int kDeviceFamilyCount = 14;

bool IsBitFamily(DeviceFamily family);
// Highest element index of the family's array (X 8191, M 20000, ZR 64000, SD 2047, ...).
std::int32_t LastImageIndex(DeviceFamily family);

class DeviceImage {
 public:
  DeviceImage();

  // Writers for the batch read; the index must lie inside the array (checked, error 9).
  void SetBit(DeviceFamily family, std::int32_t index, bool value);
  void SetWord(DeviceFamily family, std::int32_t index, std::int16_t value);

  // The getters' rule: an index above guard gives False / 0 without touching the array;
  // otherwise an index outside the array (negative, or above its last element) raises
  // Subscript out of range (9).
  bool GuardedBit(DeviceFamily family, std::int32_t index, std::int32_t guard) const;
  std::int16_t GuardedWord(DeviceFamily family, std::int32_t index, std::int32_t guard) const;

 private:
  std::array<std::vector<std::int16_t>, kDeviceFamilyCount> arrays_;
  std::size_t Checked(DeviceFamily family, std::int32_t index) const;
};

}  // namespace kestova
