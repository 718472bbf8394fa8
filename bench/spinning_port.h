#pragma once
// The baseline the blocking wait is measured against: a port whose wait re-reads the
// waiting count in a loop until a byte is there or the time is up, as a control that
// polls without yielding would. It burns a core on purpose and exists only here.

#include "bench/forwarding_port.h"

namespace kestova::bench {

class SpinningSerialPort : public ForwardingSerialPort {
 public:
  using ForwardingSerialPort::ForwardingSerialPort;

  // Spins on InBufferCount; never blocks in the kernel.
  bool WaitForInput(std::chrono::nanoseconds max_wait) override;
  // A spinning control knows no bursts: it spins for the first byte like any other.
  std::vector<std::uint8_t> ReadArriving(std::int32_t, std::chrono::nanoseconds max_wait) override {
    if (!WaitForInput(max_wait)) return {};
    return Input();
  }
};

}  // namespace kestova::bench
