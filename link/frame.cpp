#include "link/frame.h"

#include "link/automation_error.h"

namespace kestova {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The first position that is doubled on the wire: everything from the station number on.
constexpr std::size_t kFirstStuffedPosition = 5;

}  // namespace

std::uint8_t ToByte(std::int64_t value) {
  if (value < 0 || value > 0xFF) throw AutomationError(ErrorNumber::Overflow);
  return static_cast<std::uint8_t>(value);
}

std::array<std::uint8_t, 3> DeviceNumberBytes(std::int32_t number) {
  // The middle byte is the number with its low byte cleared, divided by 256: a negative
  // number or one of 65536 and above does not fit and overflows.
  const std::int64_t high = (static_cast<std::int64_t>(number) - (number & 0xFF)) / 256;
  return {static_cast<std::uint8_t>(number & 0xFF), ToByte(high), 0x00};
}

std::string HexByte(std::uint8_t byte) {
  return {kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text.push_back(kHexDigits[b >> 4]);
    text.push_back(kHexDigits[b & 0x0F]);
  }
  return text;
}

std::string HexNumber(unsigned value) {
  std::string text;
  do {
    text.insert(text.begin(), kHexDigits[value & 0x0F]);
    value >>= 4;
  } while (value != 0);
  return text;
}

std::array<std::uint8_t, 2> SumCharacters(unsigned sum) {
  const std::string text = HexByte(static_cast<std::uint8_t>(sum & 0xFF));
  return {static_cast<std::uint8_t>(text[0]), static_cast<std::uint8_t>(text[1])};
}

std::vector<std::uint8_t> BuildWireBytes(const Request& request, const Routing& routing, bool sum_check) {
  // The request image: header, command, subcommand, data, then DLE ETX.
  std::vector<std::uint8_t> image;
  image.reserve(18 + request.data.size());
  image.push_back(kDle);
  image.push_back(kStx);
  image.push_back(static_cast<std::uint8_t>(request.byte_count_field & 0xFF));
  image.push_back(static_cast<std::uint8_t>(request.byte_count_field >> 8));
  image.push_back(kFrameId);
  image.push_back(ToByte(routing.station_no));
  image.push_back(ToByte(routing.network_no));
  image.push_back(ToByte(routing.pc_number));
  image.push_back(static_cast<std::uint8_t>(routing.module_io & 0xFF));
  image.push_back(ToByte((static_cast<std::int64_t>(routing.module_io) - (routing.module_io & 0xFF)) / 256));
  image.push_back(ToByte(routing.module_station));
  image.push_back(0x00);  // self-station
  image.push_back(static_cast<std::uint8_t>(request.command & 0xFF));
  image.push_back(static_cast<std::uint8_t>(request.command >> 8));
  image.push_back(static_cast<std::uint8_t>(request.subcommand & 0xFF));
  image.push_back(static_cast<std::uint8_t>(request.subcommand >> 8));
  image.insert(image.end(), request.data.begin(), request.data.end());

  unsigned sum = 0;
  std::size_t doubled = 0;
  for (std::size_t i = 2; i < image.size(); ++i) {
    sum += image[i];
    if (image[i] == kDle) ++doubled;
  }

  std::vector<std::uint8_t> wire;
  wire.reserve(image.size() + doubled + 4);
  for (std::size_t i = 0; i < image.size(); ++i) {
    wire.push_back(image[i]);
    if (i >= kFirstStuffedPosition && image[i] == kDle) wire.push_back(kDle);
  }
  wire.push_back(kDle);
  wire.push_back(kEtx);
  if (sum_check) {
    const auto chars = SumCharacters(sum);
    wire.insert(wire.end(), chars.begin(), chars.end());
  }
  return wire;
}

WireFrame BuildFrame(const Request& request, const Routing& routing, bool sum_check) {
  WireFrame frame;
  frame.bytes = BuildWireBytes(request, routing, sum_check);
  frame.text = HexText(frame.bytes);
  return frame;
}

}  // namespace kestova
