#pragma once
// How long bytes take on a serial line: every character carries a start bit, its data
// bits, the parity bit when there is one, and its stop bits.

#include <chrono>
#include <cstddef>
#include <string_view>

namespace kestova::bench {

// `settings` is the control's text, "115200,o,8,1". Throws AutomationError 380 for a
// malformed text.
std::chrono::nanoseconds WireTime(std::size_t characters, std::string_view settings);

}  // namespace kestova::bench
