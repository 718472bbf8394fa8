#include "sim/terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace kestova::sim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(int fd, const std::string& what) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) ThrowErrno(what + ": tcgetattr");
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) ThrowErrno(what + ": tcsetattr");
}

void SetFlags(int fd, int add) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | add) != 0) ThrowErrno("fcntl");
}

void SetCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0) ThrowErrno("fcntl");
}

speed_t Speed(int baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      throw std::invalid_argument("baud rate " + std::to_string(baud) + " not supported");
  }
}

}  // namespace

Terminal Terminal::OpenPseudoTerminal() {
  Terminal t;
  char name[256] = {};
  if (openpty(&t.fd_, &t.slave_fd_, name, nullptr, nullptr) != 0) ThrowErrno("openpty");
  t.path_ = name;
  SetCloseOnExec(t.fd_);
  SetCloseOnExec(t.slave_fd_);
  MakeRaw(t.slave_fd_, t.path_);
  MakeRaw(t.fd_, "pty master");
  SetFlags(t.fd_, O_NONBLOCK);
  return t;
}

Terminal Terminal::OpenDevice(const std::string& path, const LineTiming& timing) {
  const speed_t speed = Speed(timing.baud);
  Terminal t;
  t.fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (t.fd_ < 0) ThrowErrno(path);
  t.path_ = path;
  termios tio{};
  if (tcgetattr(t.fd_, &tio) != 0) ThrowErrno(path + ": tcgetattr");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
  switch (timing.data_bits) {
    case 5:
      tio.c_cflag |= CS5;
      break;
    case 6:
      tio.c_cflag |= CS6;
      break;
    case 7:
      tio.c_cflag |= CS7;
      break;
    default:
      tio.c_cflag |= CS8;
      break;
  }
  if (timing.parity == 'e') tio.c_cflag |= PARENB;
  if (timing.parity == 'o') tio.c_cflag |= PARENB | PARODD;
  if (timing.parity == 'm' || timing.parity == 's')
    throw std::invalid_argument("mark and space parity are not supported on a device");
  if (timing.stop_bits > 1.0) tio.c_cflag |= CSTOPB;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(t.fd_, TCSANOW, &tio) != 0) ThrowErrno(path + ": tcsetattr");
  tcflush(t.fd_, TCIOFLUSH);
  return t;
}

Terminal::Terminal(Terminal&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      slave_fd_(std::exchange(other.slave_fd_, -1)),
      path_(std::move(other.path_)) {}

Terminal& Terminal::operator=(Terminal&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    slave_fd_ = std::exchange(other.slave_fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Terminal::~Terminal() { Close(); }

void Terminal::Close() {
  if (fd_ >= 0) close(fd_);
  if (slave_fd_ >= 0) close(slave_fd_);
  fd_ = slave_fd_ = -1;
}

}  // namespace kestova::sim
