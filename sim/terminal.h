#pragma once

#include <string>

#include "sim/line_timing.h"

namespace kestova::sim {

// The station's end of the line: the master of a pseudo-terminal pair, or a serial device.
// Owns its descriptors; the descriptor it serves is non-blocking.
class Terminal {
 public:
  // A fresh pseudo-terminal pair, both ends raw. The slave stays open here too, so the
  // master never sees a hang-up while the control closes and reopens its end.
  static Terminal OpenPseudoTerminal();
  // A serial device set raw to `timing` (baud, parity, data and stop bits).
  static Terminal OpenDevice(const std::string& path, const LineTiming& timing);

  Terminal(Terminal&& other) noexcept;
  Terminal& operator=(Terminal&& other) noexcept;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  ~Terminal();

  int fd() const { return fd_; }
  // What the control opens: the slave's path, or the device path.
  const std::string& path() const { return path_; }

 private:
  Terminal() = default;
  void Close();

  int fd_ = -1;
  int slave_fd_ = -1;
  std::string path_;
};

}  // namespace kestova::sim
