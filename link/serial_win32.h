#pragma once
// The serial port over the Win32 communications API. Port n opens \\.\COMn (the form that
// works for every port number). Waits block in the kernel through COMMTIMEOUTS that make
// ReadFile return on the first byte or at the deadline, and a short write time-out after
// which what a line held by flow control has not taken waits for Drain; nothing spins.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/line_settings.h"
#include "link/serial_port.h"

namespace kestova {

// The DCB fields for the line format and handshaking (0..3) asked for, on top of `base`:
// binary mode, no byte translation, no error character, DTR and RTS raised (RTS handed to
// the driver's flow control when RTS/CTS is asked). Raises AutomationError 8015 for what
// a DCB cannot express (a baud rate above its field's range).
DCB LineDcb(const DCB& base, const LineSettings& line, std::int32_t handshaking);

class Win32SerialPort : public SerialPort {
 public:
  // Port number n opens \\.\COMn.
  Win32SerialPort();
  // Opens device_path whatever the port number; the number is still stored and reported.
  explicit Win32SerialPort(std::string device_path);
  ~Win32SerialPort() override;

  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

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
  bool Drain(std::chrono::nanoseconds max_wait) override;
  void DiscardOutput() override;

 private:
  std::wstring DevicePath() const;
  HANDLE ClaimDevice() const;
  HANDLE OpenHandle() const;
  void ApplyLine(HANDLE handle, const LineSettings& line, std::int32_t handshaking) const;
  void SetReadTimeouts(DWORD total_constant_ms);
  HANDLE RequireOpen() const;
  DWORD DriverQueueCount();
  DWORD DriverOutQueueCount();
  void ReadAvailable(std::size_t limit, std::vector<std::uint8_t>& into);
  // Writes unsent_ until done or until the line takes nothing within the write time-out.
  void WriteUnsent();

  std::optional<std::string> device_path_;
  std::int16_t comm_port_ = 1;
  std::string settings_text_ = "9600,n,8,1";
  LineSettings line_;
  std::int32_t handshaking_ = 0;
  std::int16_t input_len_ = 0;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE claim_ = nullptr;  // held while open: see ClaimDevice
  // A wait takes the first byte out of the driver to learn that one arrived; it is held
  // here and handed out first by Input.
  std::vector<std::uint8_t> taken_early_;
  // Bytes handed to Output that the line has not taken yet (flow control held).
  std::vector<std::uint8_t> unsent_;
  std::optional<DWORD> armed_constant_ms_;
};

}  // namespace kestova
