// POSIX: the handler writes one byte to a pipe (the self-pipe), and waiting is a poll on
// its read end with the remaining time as the timeout.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "cli/stop_signal.h"

namespace kestova::cli {
namespace {

// The handler can reach nothing but a static: this is the write end of the installed
// StopSignal's pipe, -1 while none is installed.
std::atomic<int> installed_write_fd{-1};

extern "C" void OnStopSignal(int) {
  const int saved_errno = errno;
  const int fd = installed_write_fd.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = saved_errno;
}

constexpr int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

struct StopSignal::Platform {
  int read_fd = -1;
  int write_fd = -1;
  struct sigaction previous[2] {};
};

StopSignal::StopSignal() : platform_(std::make_unique<Platform>()) {
  int fds[2];
  if (::pipe(fds) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe");
  }
  for (const int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  platform_->read_fd = fds[0];
  platform_->write_fd = fds[1];
  int expected = -1;
  if (!installed_write_fd.compare_exchange_strong(expected, platform_->write_fd)) {
    ::close(fds[0]);
    ::close(fds[1]);
    throw std::logic_error("a StopSignal is already installed");
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the serial port's own waits carry on undisturbed
  for (int k = 0; k < 2; ++k) ::sigaction(kSignals[k], &action, &platform_->previous[k]);
}

StopSignal::~StopSignal() {
  for (int k = 0; k < 2; ++k) ::sigaction(kSignals[k], &platform_->previous[k], nullptr);
  installed_write_fd.store(-1);
  ::close(platform_->read_fd);
  ::close(platform_->write_fd);
}

bool StopSignal::WaitFor(std::chrono::milliseconds timeout) {
  if (raised_) return true;
  const bool forever = timeout.count() < 0;
  const auto deadline = std::chrono::steady_clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
  for (;;) {
    int wait_ms = -1;
    if (!forever) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd entry{platform_->read_fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, wait_ms);
    if (ready > 0) {
      raised_ = true;
      return true;
    }
    if (ready == 0) return false;
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
  }
}

}  // namespace kestova::cli
