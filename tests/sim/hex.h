#pragma once

// Byte helpers for the virtual PLC suites: hex text both ways, and a request frame built
// the long way round (independent of the station's own encoder).
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace kestova::sim::test {

inline std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

inline std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char cell[4];
  for (const auto byte : bytes) {
    std::snprintf(cell, sizeof cell, "%02X", byte);
    if (!text.empty()) text += ' ';
    text += cell;
  }
  return text;
}

// A request with the default routing (station 0, network 0, PC 0xFF, I/O 0x03FF, module
// station 0), count field 0, DLEs doubled, and the sum characters when asked.
inline std::vector<std::uint8_t> Request(std::uint16_t command, std::uint16_t subcommand,
                                         const std::vector<std::uint8_t>& data,
                                         bool sum_check = false) {
  std::vector<std::uint8_t> body = {0x00,
                                    0x00,
                                    0xF8,
                                    0x00,
                                    0x00,
                                    0xFF,
                                    0xFF,
                                    0x03,
                                    0x00,
                                    0x00,
                                    static_cast<std::uint8_t>(command & 0xFF),
                                    static_cast<std::uint8_t>(command >> 8),
                                    static_cast<std::uint8_t>(subcommand & 0xFF),
                                    static_cast<std::uint8_t>(subcommand >> 8)};
  body.insert(body.end(), data.begin(), data.end());
  std::vector<std::uint8_t> wire = {0x10, 0x02};
  unsigned sum = 0;
  for (const auto byte : body) {
    wire.push_back(byte);
    if (byte == 0x10) wire.push_back(0x10);
    sum += byte;
  }
  wire.push_back(0x10);
  wire.push_back(0x03);
  if (sum_check) {
    char chars[3];
    std::snprintf(chars, sizeof chars, "%02X", sum & 0xFF);
    wire.push_back(static_cast<std::uint8_t>(chars[0]));
    wire.push_back(static_cast<std::uint8_t>(chars[1]));
  }
  return wire;
}

}  // namespace kestova::sim::test
