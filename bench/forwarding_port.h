#pragma once
// A serial port that hands every call to the port it wraps; the benchmark's decorators
// derive from it and change the one behaviour they are about.

#include <memory>
#include <utility>

#include "link/serial_port.h"

namespace kestova::bench {

class ForwardingSerialPort : public SerialPort {
 public:
  explicit ForwardingSerialPort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}

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
  bool WaitForInput(std::chrono::nanoseconds max_wait) override {
    return inner_->WaitForInput(max_wait);
  }
  std::vector<std::uint8_t> ReadArriving(std::int32_t count, std::chrono::nanoseconds max_wait) override {
    return inner_->ReadArriving(count, max_wait);
  }
  bool Drain(std::chrono::nanoseconds max_wait) override { return inner_->Drain(max_wait); }
  void DiscardOutput() override { inner_->DiscardOutput(); }

 protected:
  SerialPort& inner() { return *inner_; }

 private:
  std::unique_ptr<SerialPort> inner_;
};

}  // namespace kestova::bench
