#pragma once
// Numbers as a user types them: decimal with an optional sign, or 0x-prefixed hexadecimal.
// No octal: "010" is ten, as anyone reading a PLC address expects.

#include <cstdint>
#include <string_view>

namespace kestova::cli {

// Throws UsageError naming `what` when `text` is not such a number or does not fit
// 64 bits.
std::int64_t ParseNumber(std::string_view text, std::string_view what);

// The conversions the control's automation interface makes when a value is handed to a
// narrower parameter: a value that does not fit raises Overflow (6), so an out-of-range
// number given on the command line fails exactly as it would from any other host.
std::int16_t ToInteger(std::int64_t value);
std::int32_t ToLong(std::int64_t value);

}  // namespace kestova::cli
