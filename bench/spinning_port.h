#pragma once
// The baseline the blocking wait is measured against: a port whose wait re-reads the
// waiting count in a loop until a byte is there or the time is up, as a control that
// polls without yielding would. It burns a core on purpose and exists only here.

#include <memory>

#include "link/serial_port.h"

namespace kestova::bench {

class SpinningSerialPort : public SerialPort {
 public:
  explicit SpinningSerialPort(std::unique_ptr<SerialPort> inner);

  std::int16_t CommPort() const override { return inner_->CommPort(); }
  void SetCommPort(std::int16_t port) override { inner_->SetCommPort(port); }
  std::string Settings() const override { return inner_->Settings(); }
  void SetSettings(const std::string& settings) override { inner_->SetSettings(settings); }
  std::int32_t Handshaking() const override { return inner_->Handshaking(); }
  void SetHandshaking(std::int32_t handshaking) override { inner_->SetHandshaking(handshaking); }
  bool PortOpen() const override { return inner_->PortOpen(); }
  void SetPortOpen(bool open) override { inner_->SetPortOpen(open); }
  void Output(std::span<const std::uint8_t> bytes) override { inner_->Output(bytes); }
  std::int32_t InBufferCount() override { return inner_->InBufferCount(); }
  void SetInputLen(std::int16_t length) override { inner_->SetInputLen(length); }
  std::vector<std::uint8_t> Input() override { return inner_->Input(); }
  void Drain() override { inner_->Drain(); }

  // Spins on InBufferCount; never blocks in the kernel.
  bool WaitForInput(std::chrono::nanoseconds max_wait) override;

 private:
  std::unique_ptr<SerialPort> inner_;
};

}  // namespace kestova::bench
