#pragma once
// One entry point per kind of operation, choosing the control's method for the family:
// the control names its operations per family (ReadX, SetM, WriteZR); the tool speaks
// of a device and lets this table pick.

#include <cstdint>
#include <vector>

#include "control/device_image.h"
#include "control/tarvane.h"

namespace kestova::cli {

// Every family can be read.
std::int16_t ReadFamily(Tarvane& control, DeviceFamily family, std::int32_t start,
                        std::int16_t points);

// The values a successful read left in the device image: 16 devices per word for a bit
// family (0 or 1 each, from the start device up), one signed word per point otherwise.
std::vector<int> ImageValues(const Tarvane& control, DeviceFamily family, std::int32_t start,
                             std::int16_t points);

// D, W and ZR only.
bool IsWordWritable(DeviceFamily family);
std::int16_t WriteWord(Tarvane& control, DeviceFamily family, std::int32_t address,
                       std::int16_t value);

// M, Y, B, L, F and S only (inputs cannot be switched).
bool IsBitWritable(DeviceFamily family);
std::int16_t WriteBit(Tarvane& control, DeviceFamily family, std::int32_t address, bool on);

}  // namespace kestova::cli
