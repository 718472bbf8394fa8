#pragma once
// The batch read behind ReadX ... ReadZR: command 0x0401 in word units, bit families 16
// points per word, into the device image.

#include <cstdint>

#include "control/device_family.h"
#include "operations/operation_context.h"

namespace kestova::operations {

// Checks the address against the family's limit (the read may end on the limit itself),
// then the points (1 to 480), then reads. Results: 0 read done (only then does the image
// change), 1 refused argument, closed port or time-out, else the PLC's end code. A bit
// family's points outside -2048..2047, or an end beyond 32 bits, raise Overflow (6).
std::int16_t BatchRead(OperationContext& context, DeviceFamily family, std::int32_t start_address,
                       std::int16_t read_points);

}  // namespace kestova::operations
