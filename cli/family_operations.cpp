#include "cli/family_operations.h"

#include <stdexcept>

namespace kestova::cli {
namespace {

constexpr int kBitsPerWord = 16;

int ImageValue(const Tarvane& control, DeviceFamily family, std::int32_t index) {
  switch (family) {
    case DeviceFamily::X: return control.PLCX(index) ? 1 : 0;
    case DeviceFamily::Y: return control.PLCY(index) ? 1 : 0;
    case DeviceFamily::M: return control.PLCM(index) ? 1 : 0;
    case DeviceFamily::B: return control.PLCB(index) ? 1 : 0;
    case DeviceFamily::SM: return control.PLCSM(index) ? 1 : 0;
    case DeviceFamily::SB: return control.PLCSB(index) ? 1 : 0;
    case DeviceFamily::L: return control.PLCL(index) ? 1 : 0;
    case DeviceFamily::F: return control.PLCF(index) ? 1 : 0;
    case DeviceFamily::S: return control.PLCS(index) ? 1 : 0;
    case DeviceFamily::D: return control.PLCD(index);
    case DeviceFamily::W: return control.PLCW(index);
    case DeviceFamily::ZR: return control.PLCZR(index);
    case DeviceFamily::SD: return control.PLCSD(index);
    case DeviceFamily::SW: return control.PLCSW(index);
  }
  throw std::logic_error("unknown device family");
}

}  // namespace

std::int16_t ReadFamily(Tarvane& control, DeviceFamily family, std::int32_t start,
                        std::int16_t points) {
  switch (family) {
    case DeviceFamily::X: return control.ReadX(start, points);
    case DeviceFamily::Y: return control.ReadY(start, points);
    case DeviceFamily::M: return VariantToInteger(control.ReadM(start, points));
    case DeviceFamily::B: return control.ReadB(start, points);
    case DeviceFamily::SM: return control.ReadSM(start, points);
    case DeviceFamily::SB: return control.ReadSB(start, points);
    case DeviceFamily::L: return control.ReadL(start, points);
    case DeviceFamily::F: return control.ReadF(start, points);
    case DeviceFamily::S: return control.ReadS(start, points);
    case DeviceFamily::D: return control.ReadD(start, points);
    case DeviceFamily::W: return control.ReadW(start, points);
    case DeviceFamily::ZR: return control.ReadZR(start, points);
    case DeviceFamily::SD: return control.ReadSD(start, points);
    case DeviceFamily::SW: return control.ReadSW(start, points);
  }
  throw std::logic_error("unknown device family");
}

std::vector<int> ImageValues(const Tarvane& control, DeviceFamily family, std::int32_t start,
                             std::int16_t points) {
  const int per_point = IsBitFamily(family) ? kBitsPerWord : 1;
  std::vector<int> values;
  values.reserve(static_cast<std::size_t>(points * per_point));
  for (std::int32_t k = 0; k < points * per_point; ++k) {
    values.push_back(ImageValue(control, family, start + k));
  }
  return values;
}

bool IsWordWritable(DeviceFamily family) {
  return family == DeviceFamily::D || family == DeviceFamily::W || family == DeviceFamily::ZR;
}

std::int16_t WriteWord(Tarvane& control, DeviceFamily family, std::int32_t address,
                       std::int16_t value) {
  switch (family) {
    case DeviceFamily::D: return control.WriteD(address, value);
    case DeviceFamily::W: return control.WriteW(address, value);
    case DeviceFamily::ZR: return control.WriteZR(address, value);
    default: throw std::logic_error("not a word-writable family");
  }
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

std::int16_t WriteBit(Tarvane& control, DeviceFamily family, std::int32_t address, bool on) {
  switch (family) {
    case DeviceFamily::M: return on ? control.SetM(address) : control.ResetM(address);
    case DeviceFamily::Y: return on ? control.SetY(address) : control.ResetY(address);
    case DeviceFamily::B: return on ? control.SetB(address) : control.ResetB(address);
    case DeviceFamily::L: return on ? control.SetL(address) : control.ResetL(address);
    case DeviceFamily::F: return on ? control.SetF(address) : control.ResetF(address);
    case DeviceFamily::S: return on ? control.SetS(address) : control.ResetS(address);
    default: throw std::logic_error("not a bit-writable family");
  }
}

}  // namespace kestova::cli
