#include "bench/spinning_port.h"

#include <utility>

namespace kestova::bench {

SpinningSerialPort::SpinningSerialPort(std::unique_ptr<SerialPort> inner)
    : inner_(std::move(inner)) {}

bool SpinningSerialPort::WaitForInput(std::chrono::nanoseconds max_wait) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(max_wait);
  // The busy loop is the point of this class: it is the cost the blocking wait avoids.
  for (;;) {
    if (inner_->InBufferCount() > 0) return true;
    if (Clock::now() >= deadline) return false;
  }
}

}  // namespace kestova::bench
