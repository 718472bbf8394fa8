#pragma once
// The block write: 1 to 480 words to D, W or ZR in one batch write (0x1401, word units),
// from a device text such as "D100" and an array of Integer.

#include <cstdint>
#include <span>
#include <string>

#include "operations/operation_context.h"

namespace kestova {

// WriteBlock's data: the shape of a one-dimensional safe array of Integer. Element k of
// `elements` has index lower_bound + k. An array that was never dimensioned or has more
// than one dimension raises Subscript out of range when its bounds are asked.
struct IntegerArray {
  std::int32_t lower_bound = 0;
  std::span<const std::int16_t> elements;
  int dimensions = 1;

  static IntegerArray ZeroBased(std::span<const std::int16_t> values) { return {0, values, 1}; }
};

namespace operations {

// Checks in this order, each refusal an event and result 1 with nothing sent: points
// (1 to 480), the array's upper bound, the number after the prefix (decimal digits with
// optional blanks and sign), the prefix (D, W or ZR in any case), the block's end against
// the family's limit (it may end on the limit itself), the port. Then 0 written, 1
// time-out, else the end code. An empty text raises Invalid procedure call (5), a negative
// or too large head number Overflow (6), a missing element Subscript out of range (9).
std::int16_t WriteBlock(OperationContext& context, const std::string& device, std::int16_t points,
                        const IntegerArray& data);

}  // namespace operations
}  // namespace kestova
