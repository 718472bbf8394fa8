#pragma once
// The far end of the round-trip floor: a pseudo-terminal whose master side counts the
// bytes that arrive and, each time a whole request's worth is in, writes back a fixed
// answer. No framing, no decoding: what is left is the cost of the terminal itself.
//
// It serves on its own thread from construction to destruction and holds a descriptor
// of its own on the slave, so the line never hangs up while clients come and go.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/raw_terminal.h"

namespace kestova::bench {

class EchoPeer {
 public:
  EchoPeer();
  ~EchoPeer();
  EchoPeer(const EchoPeer&) = delete;
  EchoPeer& operator=(const EchoPeer&) = delete;

  const std::string& slave_path() const { return terminal_.slave_path; }

  // From now on every `request_length` bytes are answered with `answer`. Meant for the
  // pause between exchanges: bytes already counted towards a request are forgotten.
  void SetExchange(std::size_t request_length, std::vector<std::uint8_t> answer);
  // Each answer goes out this long after its request is in (none by default).
  void SetAnswerDelay(std::chrono::microseconds delay);

 private:
  void Serve();
  void Consume(std::size_t count);

  PseudoTerminal terminal_;
  UniqueFd keep_alive_;
  UniqueFd stop_read_;
  UniqueFd stop_write_;
  std::mutex mutex_;
  std::size_t request_length_ = 0;
  std::vector<std::uint8_t> answer_;
  std::size_t pending_ = 0;
  std::chrono::microseconds delay_{0};
  std::thread thread_;
};

}  // namespace kestova::bench
