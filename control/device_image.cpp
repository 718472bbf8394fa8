#include "control/device_image.h"

#include "link/automation_error.h"

namespace kestova {

bool IsBitFamily(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::D:
    case DeviceFamily::W:
    case DeviceFamily::ZR:
    case DeviceFamily::SD:
    case DeviceFamily::SW:
      return false;
    default:
      return true;
  }
}

std::int32_t LastImageIndex(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::X:
    case DeviceFamily::Y:
    case DeviceFamily::L:
    case DeviceFamily::F:
    case DeviceFamily::S:
      return 8191;
    case DeviceFamily::M:
    case DeviceFamily::D:
    case DeviceFamily::W:
      return 20000;
    case DeviceFamily::B:
      return 12287;
    case DeviceFamily::SM:
    case DeviceFamily::SB:
    case DeviceFamily::SD:
    case DeviceFamily::SW:
      return 2047;
    case DeviceFamily::ZR:
      return 64000;
  }
  return -1;
}

DeviceImage::DeviceImage() {
  for (int f = 0; f < kDeviceFamilyCount; ++f) {
    arrays_[f].assign(static_cast<std::size_t>(LastImageIndex(static_cast<DeviceFamily>(f))) + 1, 0);
  }
}

std::size_t DeviceImage::Checked(DeviceFamily family, std::int32_t index) const {
  if (index < 0 || index > LastImageIndex(family)) {
    throw AutomationError(ErrorNumber::SubscriptOutOfRange);
  }
  return static_cast<std::size_t>(index);
}

void DeviceImage::SetBit(DeviceFamily family, std::int32_t index, bool value) {
  arrays_[static_cast<int>(family)][Checked(family, index)] = value ? 1 : 0;
}

void DeviceImage::SetWord(DeviceFamily family, std::int32_t index, std::int16_t value) {
  arrays_[static_cast<int>(family)][Checked(family, index)] = value;
}

bool DeviceImage::GuardedBit(DeviceFamily family, std::int32_t index, std::int32_t guard) const {
  if (index > guard) return false;
  return arrays_[static_cast<int>(family)][Checked(family, index)] != 0;
}

std::int16_t DeviceImage::GuardedWord(DeviceFamily family, std::int32_t index,
                                      std::int32_t guard) const {
  if (index > guard) return 0;
  return arrays_[static_cast<int>(family)][Checked(family, index)];
}

}  // namespace kestova
