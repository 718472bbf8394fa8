#pragma once
// An in-memory serial port for tests. It records every Output, lets a test script what
// arrives and when (relative to the test host's monotonic clock), and its waits move that
// clock instead of sleeping. A responder can answer each frame once it has left the port.
// With XON/XOFF handshaking (1 or 3) it swallows arriving 0x11 and 0x13 bytes, as a
// driver does.

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "link/serial_port.h"
#include "support/test_host.h"

namespace kestova::testing {

class MemoryPort : public SerialPort {
 public:
  using Responder = std::function<void(MemoryPort& port, const std::vector<std::uint8_t>& frame)>;

  explicit MemoryPort(TestHost& host) : host_(host) {}

  // Bytes that arrive `after` from now on the test clock.
  void Deliver(std::vector<std::uint8_t> bytes, std::chrono::nanoseconds after = {});
  void SetResponder(Responder responder) { responder_ = std::move(responder); }
  // How long the line takes to accept a frame (flow control held, a slow line), moved on
  // the test clock by Drain; the responder sees the frame only once it has left. Longer
  // than Drain's budget is a stalled line.
  void SetTransmitTime(std::chrono::nanoseconds time) { transmit_time_ = time; }
  // The next wait raises Device I/O error (57), as a vanished device does.
  void HangUp() { hung_up_ = true; }
  // The Input after the next `after_inputs` ones raises this error, once.
  void FailInput(int error_number, int after_inputs = 0) { fail_input_ = {error_number, after_inputs}; }

  const std::vector<std::vector<std::uint8_t>>& outputs() const { return outputs_; }
  void ForgetOutputs() { outputs_.clear(); }
  std::size_t pending() const { return arrivals_.size() + buffer_.size(); }

  std::int16_t CommPort() const override { return comm_port_; }
  void SetCommPort(std::int16_t port) override;
  std::string Settings() const override { return settings_; }
  void SetSettings(const std::string& settings) override;
  std::int32_t Handshaking() const override { return handshaking_; }
  void SetHandshaking(std::int32_t handshaking) override;
  bool PortOpen() const override { return open_; }
  void SetPortOpen(bool open) override;
  void Output(std::span<const std::uint8_t> bytes) override;
  std::int32_t InBufferCount() override;
  void SetInputLen(std::int16_t length) override { input_len_ = length; }
  std::vector<std::uint8_t> Input() override;
  bool WaitForInput(std::chrono::nanoseconds max_wait) override;
  bool Drain(std::chrono::nanoseconds max_wait) override;
  void DiscardOutput() override;
  int discarded_outputs() const { return discarded_outputs_; }

 private:
  struct Arrival {
    MonotonicTime due;
    std::vector<std::uint8_t> bytes;
  };
  void MoveDueArrivals();
  void RequireOpen() const;

  TestHost& host_;
  Responder responder_;
  std::deque<Arrival> arrivals_;  // in due order
  std::vector<std::uint8_t> buffer_;
  std::vector<std::vector<std::uint8_t>> outputs_;
  bool leaving_ = false;  // the last output has not left yet
  std::chrono::nanoseconds transmit_time_{};
  bool hung_up_ = false;
  int discarded_outputs_ = 0;
  std::optional<std::pair<int, int>> fail_input_;  // error, Inputs to let through first

  std::int16_t comm_port_ = 1;
  std::string settings_ = "9600,n,8,1";
  std::int32_t handshaking_ = 0;
  bool open_ = false;
  std::int16_t input_len_ = 0;
};

}  // namespace kestova::testing
