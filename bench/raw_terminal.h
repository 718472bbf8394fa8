#pragma once
// The bare terminal plumbing the baselines share: an owned descriptor, a new
// pseudo-terminal, and a terminal put into raw mode. Errors throw std::system_error.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace kestova::bench {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  int Release() noexcept;
  void Reset() noexcept;

 private:
  int fd_ = -1;
};

struct PseudoTerminal {
  UniqueFd master;  // blocking, close-on-exec
  std::string slave_path;
};

PseudoTerminal OpenPseudoTerminal();

// Opens `path` read-write, non-blocking, without becoming its controlling terminal, and
// sets it raw: every byte passes unchanged in both directions.
UniqueFd OpenRawTerminal(const std::string& path);

// Writes every byte, waiting in poll() while the terminal's queue is full.
void WriteAll(int fd, std::span<const std::uint8_t> bytes);

// Blocks in poll() until `fd` is readable or `timeout` passes (rounded up to a
// millisecond; negative waits for ever). Returns whether it is readable; a hang-up
// counts as readable, so the read that follows reports it.
bool WaitReadable(int fd, std::chrono::milliseconds timeout);

}  // namespace kestova::bench
