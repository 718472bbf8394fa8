#pragma once
// The single bit write behind the six set and six reset methods: one bit by a random
// write in bit units (0x1402/0x0001, one point). This request alone carries 0x0013 in its
// byte-count field.

#include <cstdint>

#include "control/device_family.h"
#include "operations/operation_context.h"

namespace kestova::operations {

// Switches one M, Y, B, L, F or S device on or off. An address above the family's limit
// is refused with the set or reset text and result 1; a negative address overflows (6).
// Otherwise 0 written, 1 closed port or time-out, else the end code. Inputs and the
// other families raise Invalid procedure call (5).
std::int16_t SwitchBit(OperationContext& context, DeviceFamily family, std::int32_t address, bool on);

}  // namespace kestova::operations
