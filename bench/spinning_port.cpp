#include "bench/spinning_port.h"

namespace kestova::bench {

bool SpinningSerialPort::WaitForInput(std::chrono::nanoseconds max_wait) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(max_wait);
  // The busy loop is the point of this class: it is the cost the blocking wait avoids.
  for (;;) {
    if (inner().InBufferCount() > 0) return true;
    if (Clock::now() >= deadline) return false;
  }
}

}  // namespace kestova::bench
