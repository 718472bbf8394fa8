#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kestova::testing {
namespace {

[[noreturn]] void SystemFailure(const char* what) {
  throw std::system_error(errno, std::system_category(), what);
}

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

}  // namespace

PtyPair::PtyPair() {
  int slave = -1;
  char name[256] = {};
  if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) SystemFailure("openpty");
  ::close(slave);  // only the port holds the slave, so closing the master hangs it up
  slave_path_ = name;
}

PtyPair::PtyPair(const std::string& path) : master_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  termios settings{};
  if (master_ < 0 || ::tcgetattr(master_, &settings) != 0) SystemFailure(path.c_str());
  ::cfmakeraw(&settings);
  ::tcsetattr(master_, TCSANOW, &settings);
}

void PtyPair::Send(const Bytes& bytes) {
  // A blocking terminal write returns once every byte is queued.
  if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) SystemFailure("write");
}

Bytes PtyPair::Read(std::size_t count, std::chrono::milliseconds budget) {
  const auto deadline = Clock::now() + budget;
  Bytes bytes(count);
  std::size_t got = 0;
  while (got < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{master_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = ::read(master_, bytes.data() + got, count - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
    ++reads_;
    last_byte_at_ = Clock::now();
  }
  bytes.resize(got);
  return bytes;
}

termios PtyPair::SlaveTermios() const {
  termios settings{};
  if (::tcgetattr(master_, &settings) != 0) SystemFailure("tcgetattr on master");
  return settings;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

Bytes ReadFromPort(SerialPort& port, std::size_t count, std::chrono::milliseconds budget) {
  const auto deadline = Clock::now() + budget;
  Bytes bytes;
  while (bytes.size() < count && port.WaitForInput(deadline - Clock::now())) {
    const Bytes taken = port.Input();
    bytes.insert(bytes.end(), taken.begin(), taken.end());
  }
  return bytes;
}

}  // namespace kestova::testing
