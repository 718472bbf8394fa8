#pragma once

#include <cstdint>

namespace kestova::sim::end_code {

// Every end code the virtual PLC answers with, in one place.
inline constexpr std::uint16_t kNormal = 0x0000;
// Command or subcommand the station does not carry out.
inline constexpr std::uint16_t kCommandError = 0x7E40;
// Request data of the wrong length for its command, or a remote mode / clear mode
// the CPU does not accept.
inline constexpr std::uint16_t kDataError = 0x7E41;
// Number of points 0, above 480 words, or not matching the write data.
inline constexpr std::uint16_t kDataCountError = 0x7E42;
// Unknown device code, or devices outside memory.
inline constexpr std::uint16_t kDeviceError = 0x7E43;
// Sum-check characters wrong, not hexadecimal, or not arriving within 100 ms.
inline constexpr std::uint16_t kSumCheckError = 0x7F24;
// Remote RESET refused while the CPU runs: a CPU is reset only from STOP.
inline constexpr std::uint16_t kResetWhileRunning = 0x4010;

}  // namespace kestova::sim::end_code
