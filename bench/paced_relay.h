#pragma once
// The request half of a paced line. A pseudo-terminal carries any number of bytes at once
// and the virtual PLC paces only what it writes, so the relay sits between the control
// and the PLC: the control opens the relay's terminal, and each chunk of request bytes
// reaches the PLC when its last character would have at the line's speed, the line
// carrying one character at a time. Answers pass back as they arrive, already paced.
//
// Serves on its own thread from construction to destruction.

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "bench/raw_terminal.h"

namespace kestova::bench {

class PacedRelay {
 public:
  // `far_path` is the terminal the PLC serves; `settings` the line ("9600,o,8,1").
  PacedRelay(const std::string& far_path, const std::string& settings);
  ~PacedRelay();
  PacedRelay(const PacedRelay&) = delete;
  PacedRelay& operator=(const PacedRelay&) = delete;

  // The terminal the control opens.
  const std::string& path() const { return near_.slave_path; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
  };

  void Serve();
  void TakeRequestBytes();
  void PassAnswerBytes();
  void DeliverDue();

  std::string settings_;
  PseudoTerminal near_;
  UniqueFd near_keep_alive_;  // the control comes and goes; the line must not hang up
  UniqueFd far_;
  UniqueFd stop_read_;
  UniqueFd stop_write_;
  std::deque<Chunk> in_flight_;  // only the serving thread touches it
  Clock::time_point line_free_{};
  std::thread thread_;
};

}  // namespace kestova::bench
