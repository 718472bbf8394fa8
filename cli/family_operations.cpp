#include "cli/family_operations.h"


namespace kestova::cli {
namespace {

constexpr int kBitsPerWord = 16;

}  // namespace


std::vector<int> ImageValues(const Tarvane& control, DeviceFamily family, std::int32_t start,
                             std::int16_t points) {
  const int per_point = IsBitFamily(family) ? kBitsPerWord : 1;
  std::vector<int> values;
  values.reserve(static_cast<std::size_t>(points * per_point));
  for (std::int32_t k = 0; k < points * per_point; ++k) {
    values.push_back(control.Image(family, start + k));
  }
  return values;
}

bool IsWordWritable(DeviceFamily family) {
  return family == DeviceFamily::D || family == DeviceFamily::W || family == DeviceFamily::ZR;
}


bool IsBitWritable(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::M:
    case DeviceFamily::Y:
    case DeviceFamily::B:
    case DeviceFamily::L:
    case DeviceFamily::F:
    case DeviceFamily::S:
      return true;
    default:
      return false;
  }
}


}  // namespace kestova::cli
