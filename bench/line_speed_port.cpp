#include "bench/line_speed_port.h"

#include <thread>

#include "bench/wire_time.h"

namespace kestova::bench {

void LineSpeedPort::Output(std::span<const std::uint8_t> bytes) {
  const auto arrival = std::chrono::steady_clock::now() + WireTime(bytes.size(), Settings());
  // Waiting for the line, not for another thread: the far end must not see the request
  // before its last character could have arrived.
  std::this_thread::sleep_until(arrival);
  inner().Output(bytes);
}

}  // namespace kestova::bench
