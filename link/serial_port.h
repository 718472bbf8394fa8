#pragma once
// The serial port object the control owns: the eight properties the control uses, plus
// blocking waits and a drain for the exchange. Implementations: POSIX termios
// (serial_posix), Win32 (serial_win32), and an in-memory port for tests.
//
// Thread affinity: one thread at a time (the host's). Errors are AutomationError with the
// port error numbers (8000 ... 8015, 380, 57); a let that raises changes nothing.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestova {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Port number, 1 for the first port. Raises 8000 when changed while open, 8002 below 1.
  virtual std::int16_t CommPort() const = 0;
  virtual void SetCommPort(std::int16_t port) = 0;

  // "baud,parity,databits,stopbits", e.g. "9600,n,8,1". A malformed string raises 380;
  // while open, a string the device cannot apply raises 8015 and leaves the line as it was.
  virtual std::string Settings() const = 0;
  virtual void SetSettings(const std::string& settings) = 0;

  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 RTS/CTS and XON/XOFF; anything else raises 380.
  virtual std::int32_t Handshaking() const = 0;
  virtual void SetHandshaking(std::int32_t handshaking) = 0;

  // True opens with the current number, settings and handshaking; False closes.
  // Opening an open port raises 8005, a port that does not exist 8002.
  virtual bool PortOpen() const = 0;
  virtual void SetPortOpen(bool open) = 0;

  // Hands every byte to the line, in order, unchanged, without waiting for a line that
  // takes nothing (flow control held, a peer that does not read): what cannot go out
  // yet waits in the port until Drain. Raises 8012 when closed.
  virtual void Output(std::span<const std::uint8_t> bytes) = 0;

  // Received bytes waiting that Input has not yet taken. Raises 8012 when closed.
  virtual std::int32_t InBufferCount() = 0;

  // 0 makes Input take every waiting byte; n > 0 at most n bytes.
  virtual void SetInputLen(std::int16_t length) = 0;

  // Takes the waiting bytes (see InputLen). Nothing waiting gives an empty array.
  virtual std::vector<std::uint8_t> Input() = 0;

  // Blocks in the kernel until at least one byte is waiting or max_wait has passed.
  // Returns whether bytes are waiting. Raises 57 when the device hangs up or fails.
  virtual bool WaitForInput(std::chrono::nanoseconds max_wait) = 0;

  // The exchange's wait: blocks until input arrives or max_wait has passed; once a byte
  // is in, lets the rest of a burst of `count` bytes arrive (for about their wire time,
  // still within max_wait), so an answer arriving one character at a time wakes the
  // caller a few times, not once per character; then takes what Input would take. Empty
  // when nothing came in time. `count` is a hint: returning fewer bytes is always allowed.
  virtual std::vector<std::uint8_t> ReadArriving(std::int32_t count, std::chrono::nanoseconds max_wait) {
    (void)count;
    if (!WaitForInput(max_wait)) return {};
    return Input();
  }

  // Waits at most max_wait until every byte handed to Output has been taken by the line:
  // the driver's own queue, which sends at the line's pace, or the wire. Returns false
  // when some have not (flow control held, a peer that does not read); they stay queued
  // until DiscardOutput.
  virtual bool Drain(std::chrono::nanoseconds max_wait) = 0;

  // Drops every byte handed to Output that has not gone out on the wire yet, the
  // driver's queue included.
  virtual void DiscardOutput() = 0;
};

}  // namespace kestova
