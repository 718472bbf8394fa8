#pragma once
// A transmitter at the line's speed over a pseudo-terminal, which itself carries any
// number of bytes at once: each Output reaches the far end only when its last character
// would have, at the baud rate and character format of the port's settings. The virtual
// PLC paces its answers the same way, so a paced round trip spends the wire time of both
// directions, as it would on a real line.

#include "bench/forwarding_port.h"

namespace kestova::bench {

class LineSpeedPort : public ForwardingSerialPort {
 public:
  using ForwardingSerialPort::ForwardingSerialPort;

  // Blocks (in the kernel, no spinning) for the bytes' wire time, then hands them on.
  void Output(std::span<const std::uint8_t> bytes) override;
};

}  // namespace kestova::bench
