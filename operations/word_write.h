#pragma once
// The single word write behind WriteD, WriteW and WriteZR: one word by a batch write
// (0x1401, word units, one point).

#include <cstdint>

#include "control/device_family.h"
#include "operations/operation_context.h"

namespace kestova::operations {

// An address above the family's limit is refused with the family's text and result 1;
// there is no test for a negative address, which overflows (6) when its bytes are formed.
// Otherwise 0 written, 1 closed port or time-out, else the end code. A family other than
// D, W and ZR raises Invalid procedure call (5).
std::int16_t WriteWord(OperationContext& context, DeviceFamily family, std::int32_t address,
                       std::int16_t value);

}  // namespace kestova::operations
