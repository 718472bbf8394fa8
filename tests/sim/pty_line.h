#pragma once

// The control's end of the virtual PLC's pseudo-terminal, for the tests: raw, non-blocking,
// every read bounded by an absolute deadline.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestova::sim::test {

class PtyLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PtyLine(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~PtyLine() { close(fd_); }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  void Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const auto n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, 1000);
    }
  }

  // Reads until `n` bytes have come or `timeout` has passed; returns what came.
  std::vector<std::uint8_t> Read(std::size_t n, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<std::uint8_t> got;
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() < 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
      std::uint8_t buffer[2048];
      const auto want = std::min(sizeof buffer, n - got.size());
      const auto r = read(fd_, buffer, want);
      if (r > 0) {
        got.insert(got.end(), buffer, buffer + r);
        ++reads_;
        last_byte_at_ = Clock::now();
      }
    }
    return got;
  }

  int reads() const { return reads_; }
  Clock::time_point last_byte_at() const { return last_byte_at_; }

 private:
  int fd_ = -1;
  int reads_ = 0;
  Clock::time_point last_byte_at_{};
};

}  // namespace kestova::sim::test
