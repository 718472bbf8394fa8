#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace kestova::sim {

// What became of the two sum-check characters after DLE ETX.
enum class SumStatus {
  NotChecked,  // the station's sum check is off
  Ok,
  Mismatch,  // two hex characters, wrong value
  NotHex,    // a character that is not an upper- or lower-case hex digit
  Missing,   // fewer than two characters within 100 ms
};

// One request frame as the station received it, with its decoded fields.
struct ReceivedRequest {
  std::vector<std::uint8_t> raw;   // wire bytes from DLE STX through the sum characters
  std::vector<std::uint8_t> body;  // de-stuffed bytes from the count field through the data
  // False when the body is shorter than the 14-byte header or the frame ID is not 0xF8;
  // such a frame is recorded but never answered.
  bool header_ok = false;
  std::uint16_t byte_count = 0;  // as sent; the station does not rely on it
  std::uint8_t frame_id = 0;
  // station No., network No., PC No., module I/O No. low, high, module station No.,
  // self-station No.: echoed in the answer in this order
  std::array<std::uint8_t, 7> routing{};
  std::uint16_t command = 0;
  std::uint16_t subcommand = 0;
  std::vector<std::uint8_t> data;  // request data after the subcommand
  SumStatus sum_status = SumStatus::NotChecked;
  bool sum_ok = true;  // sum_status is NotChecked or Ok
  std::chrono::steady_clock::time_point received_at{};
};

// Fills the decoded fields of `request` from its `body` and `sum_status`.
void DecodeFields(ReceivedRequest& request);

}  // namespace kestova::sim
