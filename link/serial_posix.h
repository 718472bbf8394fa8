#pragma once
// The serial port over a POSIX terminal device (termios). The device is opened
// non-blocking and exclusively; waits block in poll(), never spin. The device's own
// terminal settings are saved at open and put back at close.

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/line_settings.h"
#include "link/serial_port.h"

namespace kestova {

// Raw, binary line settings derived from `base` (the device's current settings): the
// speed, character format and handshaking (0..3) asked for, no echo, no line editing,
// no byte translation, breaks and characters failing the parity check dropped, modem
// lines ignored, receiver on. Raises AutomationError 8015 for what this platform cannot
// do (a baud rate with no speed constant, 1.5 stop bits), 380 for handshaking outside 0..3.
termios RawLineTermios(const termios& base, const LineSettings& line, std::int32_t handshaking);

class TerminalDevice;

class PosixSerialPort : public SerialPort {
 public:
  // Port number n opens /dev/ttyS<n-1>.
  PosixSerialPort();
  // Opens device_path whatever the port number; the number is still stored and reported.
  explicit PosixSerialPort(std::string device_path);
  ~PosixSerialPort() override;

  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  std::int16_t CommPort() const override;
  void SetCommPort(std::int16_t port) override;
  std::string Settings() const override;
  void SetSettings(const std::string& settings) override;
  std::int32_t Handshaking() const override;
  void SetHandshaking(std::int32_t handshaking) override;
  bool PortOpen() const override;
  void SetPortOpen(bool open) override;
  void Output(std::span<const std::uint8_t> bytes) override;
  std::int32_t InBufferCount() override;
  void SetInputLen(std::int16_t length) override;
  std::vector<std::uint8_t> Input() override;
  bool WaitForInput(std::chrono::nanoseconds max_wait) override;
  std::vector<std::uint8_t> ReadArriving(std::int32_t count, std::chrono::nanoseconds max_wait) override;
  bool Drain(std::chrono::nanoseconds max_wait) override;
  void DiscardOutput() override;

 private:
  std::string DevicePath() const;
  TerminalDevice& OpenDevice();

  std::optional<std::string> device_path_;
  std::int16_t comm_port_ = 1;
  std::string settings_text_ = "9600,n,8,1";
  LineSettings line_;
  std::int32_t handshaking_ = 0;
  std::int16_t input_len_ = 0;
  std::unique_ptr<TerminalDevice> device_;  // null while closed
};

}  // namespace kestova
