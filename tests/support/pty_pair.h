#pragma once
// A pseudo-terminal pair: the port under test opens the slave by path, the test plays the
// far end through the master (on Linux the master reads the slave's line settings). Or, made
// from a path, the test's raw end of a terminal the code under test made.

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/automation_error.h"
#include "link/serial_port.h"
#include "support/raised.h"

namespace kestova::testing {

class PtyPair {
 public:
  PtyPair();
  explicit PtyPair(const std::string& path);
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slave_path() const { return slave_path_; }
  void Send(const std::vector<std::uint8_t>& bytes);
  // What arrived within the budget, at most `count` bytes.
  std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds budget);
  int reads() const { return reads_; }
  std::chrono::steady_clock::time_point last_byte_at() const { return last_byte_at_; }
  termios SlaveTermios() const;
  void CloseMaster();  // hangs the line up, as a vanished device would

 private:
  int master_ = -1;
  std::string slave_path_;
  int reads_ = 0;
  std::chrono::steady_clock::time_point last_byte_at_{};
};

// Collects `count` bytes through WaitForInput and Input, or what arrived within the budget.
std::vector<std::uint8_t> ReadFromPort(SerialPort& port, std::size_t count, std::chrono::milliseconds budget);

}  // namespace kestova::testing
