#pragma once
// What the tool needs to know of a family beyond the control's own by-family entry points
// (Tarvane::Read, Image, WriteWord, SwitchBit): which commands it takes, and the values a
// read left in the image.

#include <cstdint>
#include <vector>

#include "control/device_image.h"
#include "control/tarvane.h"

namespace kestova::cli {


// The values a successful read left in the device image: 16 devices per word for a bit
// family (0 or 1 each, from the start device up), one signed word per point otherwise.
std::vector<int> ImageValues(const Tarvane& control, DeviceFamily family, std::int32_t start,
                             std::int16_t points);

// D, W and ZR only.
bool IsWordWritable(DeviceFamily family);

// M, Y, B, L, F and S only (inputs cannot be switched).
bool IsBitWritable(DeviceFamily family);

}  // namespace kestova::cli
