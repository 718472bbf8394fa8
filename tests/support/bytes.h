#pragma once
// Frames written by hand for the tests, independently of the control's codec and of the
// virtual PLC's: "10 02 00 00" <-> bytes, and format-5 requests and answers with the
// default routing (station 0, network 0, PC 0xFF, I/O 0x03FF, module station 0).

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace kestova::testing {

inline std::vector<std::uint8_t> Bytes(const std::string& spaced_hex) {
  std::vector<std::uint8_t> out;
  std::istringstream in(spaced_hex);
  std::string item;
  while (in >> item) out.push_back(static_cast<std::uint8_t>(std::stoul(item, nullptr, 16)));
  return out;
}

inline std::string Spaced(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// The byte strings one after another.
template <typename... More>
std::vector<std::uint8_t> Join(std::vector<std::uint8_t> first, const More&... more) {
  (first.insert(first.end(), more.begin(), more.end()), ...);
  return first;
}

// DLE STX, the body with every 0x10 doubled, DLE ETX, and the sum characters (the body's
// byte sum, low byte, as two upper-case hex digits) when asked.
inline std::vector<std::uint8_t> Framed(const std::vector<std::uint8_t>& body, bool sum_check) {
  unsigned sum = 0;
  std::vector<std::uint8_t> wire = {0x10, 0x02};
  for (std::uint8_t b : body) {
    sum += b;
    wire.push_back(b);
    if (b == 0x10) wire.push_back(0x10);
  }
  wire.push_back(0x10);
  wire.push_back(0x03);
  if (sum_check) {
    static const char* digits = "0123456789ABCDEF";
    wire.push_back(static_cast<std::uint8_t>(digits[(sum >> 4) & 15]));
    wire.push_back(static_cast<std::uint8_t>(digits[sum & 15]));
  }
  return wire;
}

// A request as the control sends it, with 0 in the byte-count field.
inline std::vector<std::uint8_t> RequestFrame(std::uint16_t command, std::uint16_t subcommand,
                                              const std::vector<std::uint8_t>& data, bool sum_check = false) {
  std::vector<std::uint8_t> body = {0x00, 0x00, 0xF8, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00,
                                    static_cast<std::uint8_t>(command & 0xFF),
                                    static_cast<std::uint8_t>(command >> 8),
                                    static_cast<std::uint8_t>(subcommand & 0xFF),
                                    static_cast<std::uint8_t>(subcommand >> 8)};
  body.insert(body.end(), data.begin(), data.end());
  return Framed(body, sum_check);
}

// An answer as a station sends it: byte count, frame ID, the routing echo, response ID,
// end code, data.
inline std::vector<std::uint8_t> Answer(std::uint16_t end_code, const std::vector<std::uint8_t>& data,
                                        bool sum_check) {
  std::vector<std::uint8_t> body = {0, 0, 0xF8, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0xFF, 0xFF,
                                    static_cast<std::uint8_t>(end_code & 0xFF),
                                    static_cast<std::uint8_t>(end_code >> 8)};
  body.insert(body.end(), data.begin(), data.end());
  const std::size_t count = body.size() - 2;
  body[0] = static_cast<std::uint8_t>(count & 0xFF);
  body[1] = static_cast<std::uint8_t>(count >> 8);
  return Framed(body, sum_check);
}

}  // namespace kestova::testing
