#pragma once
// The near end of the round-trip floor: writes the request bytes to the terminal and
// reads until the answer's length is in, with nothing in between that looks at them.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bench/raw_terminal.h"

namespace kestova::bench {

class FloorClient {
 public:
  explicit FloorClient(const std::string& path);

  // Throws std::runtime_error when fewer than `answer_length` bytes arrive within
  // `max_wait`, std::system_error when the terminal fails.
  void RoundTrip(std::span<const std::uint8_t> request, std::size_t answer_length,
                 std::chrono::milliseconds max_wait = std::chrono::seconds(3));

  // The bytes the last round trip read.
  const std::vector<std::uint8_t>& last_answer() const { return answer_; }

 private:
  UniqueFd fd_;
  std::vector<std::uint8_t> answer_;
};

}  // namespace kestova::bench
