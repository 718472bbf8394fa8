#pragma once
// Format-5 request frames (binary, DLE STX ... DLE ETX, optional sum check) of the MC
// protocol's QnA-compatible 4C frame, and the text the error log shows them as.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestova {

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kFrameId = 0xF8;

// The routing numbers as the control's properties hold them (any value; out-of-byte
// values raise Overflow when the frame is built).
struct Routing {
  std::int16_t station_no = 0;
  std::int16_t network_no = 0;
  std::int16_t pc_number = 0xFF;
  std::int32_t module_io = 0x3FF;
  std::int16_t module_station = 0;
};

// What an operation puts after the header.
struct Request {
  std::uint16_t byte_count_field = 0;  // 0x0000, 0x0013 for the bit write
  std::uint16_t command = 0;
  std::uint16_t subcommand = 0;
  std::vector<std::uint8_t> data;
};

struct WireFrame {
  std::vector<std::uint8_t> bytes;  // as sent: doubled DLEs, DLE ETX, sum characters
  std::string text;                 // every wire byte as HexByte, no separators
};

// Range-tested conversion to an unsigned byte: Overflow (6) outside 0..255.
std::uint8_t ToByte(std::int64_t value);

// Three device-number bytes, low first. The middle byte is range-tested, so a negative
// number or one of 65536 and above raises Overflow (6).
std::array<std::uint8_t, 3> DeviceNumberBytes(std::int32_t number);

// Raises Overflow (6) for a routing number out of its byte range, before anything else.
WireFrame BuildFrame(const Request& request, const Routing& routing, bool sum_check);
// The same frame's wire bytes alone, for a caller that renders the text only when it
// needs it (the exchange, for its records).
std::vector<std::uint8_t> BuildWireBytes(const Request& request, const Routing& routing, bool sum_check);

// 0x05 -> "05", 0xA8 -> "A8".
std::string HexByte(std::uint8_t byte);
// Every byte as HexByte, concatenated.
std::string HexText(std::span<const std::uint8_t> bytes);
// Upper-case hexadecimal without leading zeros (0xA8 -> "A8", 0x05 -> "5").
std::string HexNumber(unsigned value);
// The sum-check characters for a byte sum: its low byte as two upper-case hex digits.
std::array<std::uint8_t, 2> SumCharacters(unsigned sum);

}  // namespace kestova
