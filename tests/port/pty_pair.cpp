#include "pty_pair.h"

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace kestova::testing {
namespace {

[[noreturn]] void SystemFailure(const char* what) {
  throw std::system_error(errno, std::system_category(), what);
}

}  // namespace

PtyPair::PtyPair() {
  int slave = -1;
  char name[256] = {};
  if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) SystemFailure("openpty");
  // Only the port under test holds the slave, so closing the master hangs the port up.
  ::close(slave);
  slave_path_ = name;
}

PtyPair::~PtyPair() { CloseMaster(); }

void PtyPair::WriteToMaster(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) SystemFailure("write to master");
    done += static_cast<std::size_t>(written);
  }
}

std::vector<std::uint8_t> PtyPair::ReadFromMaster(std::size_t count,
                                                  std::chrono::milliseconds budget) {
  const auto deadline = std::chrono::steady_clock::now() + budget;
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd entry{master_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    std::uint8_t chunk[4096];
    const std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
    const ssize_t got = ::read(master_, chunk, wanted);
    if (got <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
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

std::vector<std::uint8_t> ReadFromPort(SerialPort& port, std::size_t count,
                                       std::chrono::milliseconds budget) {
  const auto deadline = std::chrono::steady_clock::now() + budget;
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < count) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero() || !port.WaitForInput(left)) break;
    const std::vector<std::uint8_t> taken = port.Input();
    bytes.insert(bytes.end(), taken.begin(), taken.end());
  }
  return bytes;
}

}  // namespace kestova::testing
