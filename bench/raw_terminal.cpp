#include "bench/raw_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kestova::bench {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

PseudoTerminal OpenPseudoTerminal() {
  UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (master.get() < 0) ThrowErrno("posix_openpt");
  if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) ThrowErrno("unlockpt");
  char name[128];
  if (::ptsname_r(master.get(), name, sizeof name) != 0) ThrowErrno("ptsname_r");
  return PseudoTerminal{std::move(master), name};
}

UniqueFd OpenRawTerminal(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno("open " + path);
  termios line{};
  if (::tcgetattr(fd.get(), &line) != 0) ThrowErrno("tcgetattr " + path);
  ::cfmakeraw(&line);
  line.c_cc[VMIN] = 1;
  line.c_cc[VTIME] = 0;
  if (::tcsetattr(fd.get(), TCSANOW, &line) != 0) ThrowErrno("tcsetattr " + path);
  return fd;
}

void WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd entry{fd, POLLOUT, 0};
      if (::poll(&entry, 1, -1) < 0 && errno != EINTR) ThrowErrno("poll");
    } else {
      ThrowErrno("write");
    }
  }
}

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
  const int wait = timeout.count() < 0 ? -1 : static_cast<int>(timeout.count());
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, wait);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) ThrowErrno("poll");
  }
}

}  // namespace kestova::bench
