#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/request.h"

namespace kestova::sim {

// Byte-at-a-time reader of format-5 request frames. It hunts for DLE STX, undoes DLE
// doubling anywhere in the body, ends the body at DLE ETX and then, with the sum check
// on, takes two sum characters. DLE followed by anything else drops the frame (DLE STX
// starts a new one at once). It reads no clock: the owner calls ExpireSum() when the sum
// characters have not come within 100 ms of the DLE ETX.
class FrameDecoder {
 public:
  // A body longer than this is no request of ours: the frame is dropped.
  static constexpr std::size_t kMaxBody = 4096;

  explicit FrameDecoder(bool sum_check = false) : sum_check_(sum_check) {}

  // Takes effect from the next DLE ETX.
  void set_sum_check(bool on) { sum_check_ = on; }

  // Returns a request when `byte` completes one (its fields decoded).
  std::optional<ReceivedRequest> Feed(std::uint8_t byte);

  // True between DLE ETX and the second sum character.
  bool awaiting_sum() const { return state_ == State::Sum; }

  // Gives up waiting for the sum characters: the held request completes as Missing.
  std::optional<ReceivedRequest> ExpireSum();

  // Forgets any partial frame.
  void Reset();

 private:
  enum class State { Hunt, HuntDle, Body, BodyDle, Sum };

  void StartFrame();
  ReceivedRequest Finish(SumStatus status);

  bool sum_check_;
  State state_ = State::Hunt;
  ReceivedRequest current_;
  std::uint8_t sum_ = 0;
  std::size_t sum_chars_ = 0;
  int first_sum_digit_ = 0;
  bool sum_not_hex_ = false;
};

}  // namespace kestova::sim
