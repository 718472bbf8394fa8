#include "control/device_image.h"

#include "link/automation_error.h"

namespace kestova {
namespace {

std::size_t Checked(DeviceFamily family, std::int32_t index) {
  if (index < 0 || index > LastImageIndex(family)) {
    throw AutomationError(ErrorNumber::SubscriptOutOfRange);
  }
  return static_cast<std::size_t>(index);
}

}  // namespace

DeviceImage::DeviceImage() {
  for (const DeviceFamilyFacts& facts : AllDeviceFamilies()) {
    arrays_[static_cast<std::size_t>(facts.family)].assign(static_cast<std::size_t>(facts.limit) + 1, 0);
  }
}

std::int16_t& DeviceImage::Element(DeviceFamily family, std::int32_t index) {
  return arrays_[static_cast<std::size_t>(family)][Checked(family, index)];
}

const std::int16_t* DeviceImage::Guarded(DeviceFamily family, std::int32_t index) const {
  const DeviceFamilyFacts& facts = FactsOf(family);
  if (facts.getter_guarded && index > facts.limit) return nullptr;
  return &arrays_[static_cast<std::size_t>(family)][Checked(family, index)];
}

void DeviceImage::SetBit(DeviceFamily family, std::int32_t index, bool value) {
  Element(family, index) = value ? 1 : 0;
}

void DeviceImage::SetWord(DeviceFamily family, std::int32_t index, std::int16_t value) {
  Element(family, index) = value;
}

bool DeviceImage::Bit(DeviceFamily family, std::int32_t index) const {
  const std::int16_t* element = Guarded(family, index);
  return element != nullptr && *element != 0;
}

std::int16_t DeviceImage::Word(DeviceFamily family, std::int32_t index) const {
  const std::int16_t* element = Guarded(family, index);
  return element != nullptr ? *element : std::int16_t{0};
}

int DeviceImage::Value(DeviceFamily family, std::int32_t index) const {
  return IsBitFamily(family) ? (Bit(family, index) ? 1 : 0) : Word(family, index);
}

}  // namespace kestova
