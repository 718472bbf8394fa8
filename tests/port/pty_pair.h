#pragma once
// A pseudo-terminal pair for exercising a real terminal device: the port under test opens
// the slave by path, the test plays the far end through the master. On Linux the master
// reads and writes the slave's line settings, so the test can see what the port applied.

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/automation_error.h"
#include "link/serial_port.h"

namespace kestova::testing {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slave_path() const { return slave_path_; }

  void WriteToMaster(std::span<const std::uint8_t> bytes);
  // Whatever arrived within the budget, at most `count` bytes.
  std::vector<std::uint8_t> ReadFromMaster(std::size_t count, std::chrono::milliseconds budget);
  termios SlaveTermios() const;
  // Hangs the line up, as a vanished device would.
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// Collects `count` bytes through WaitForInput and Input, or what arrived within the budget.
std::vector<std::uint8_t> ReadFromPort(SerialPort& port, std::size_t count,
                                       std::chrono::milliseconds budget);

// The AutomationError number `action` raised, 0 if it raised none.
template <typename Action>
int RaisedNumber(Action&& action) {
  try {
    action();
  } catch (const AutomationError& error) {
    return error.code();
  }
  return 0;
}

}  // namespace kestova::testing
