#include "link/serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <thread>
#include <utility>

#include "link/automation_error.h"
#include "link/platform_port.h"

namespace kestova {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct SpeedEntry {
  long baud;
  speed_t speed;
};

// Every standard rate this platform has a constant for; any other rate is refused rather
// than rounded to a neighbour.
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

[[noreturn]] void CannotApply() { throw AutomationError(ErrorNumber::CommStateFailed); }

speed_t SpeedFor(long baud) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.baud == baud) return entry.speed;
  }
  CannotApply();
}

tcflag_t CharacterSizeFlag(int data_bits) {
  switch (data_bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: CannotApply();
  }
}

tcflag_t ParityFlags(Parity parity) {
  switch (parity) {
    case Parity::None: return 0;
    case Parity::Even: return PARENB;
    case Parity::Odd: return PARENB | PARODD;
#ifdef CMSPAR
    // With CMSPAR the parity bit is constant: PARODD makes it 1 (mark), else 0 (space).
    case Parity::Mark: return PARENB | CMSPAR | PARODD;
    case Parity::Space: return PARENB | CMSPAR;
#endif
    default: CannotApply();
  }
}

tcflag_t HardwareFlowFlag() {
#ifdef CRTSCTS
  return CRTSCTS;
#else
  CannotApply();
#endif
}

constexpr tcflag_t kMarkSpaceFlag =
#ifdef CMSPAR
    CMSPAR;
#else
    0;
#endif

constexpr tcflag_t kHardwareFlowMask =
#ifdef CRTSCTS
    CRTSCTS;
#else
    0;
#endif

// Drivers that cannot do one of these clear it (or write back the speed they chose), so
// reading the settings back shows a substitution. Character size and parity enable are
// not compared: pseudo-terminals always report 8 bits without parity, yet carry every
// byte unchanged.
constexpr tcflag_t kVerifiedControlFlags = CSTOPB | kMarkSpaceFlag | kHardwareFlowMask;
constexpr tcflag_t kVerifiedInputFlags = IXON | IXOFF;

bool SameLine(const termios& wanted, const termios& actual) {
  return cfgetispeed(&wanted) == cfgetispeed(&actual) &&
         cfgetospeed(&wanted) == cfgetospeed(&actual) &&
         (wanted.c_cflag & kVerifiedControlFlags) == (actual.c_cflag & kVerifiedControlFlags) &&
         (wanted.c_iflag & kVerifiedInputFlags) == (actual.c_iflag & kVerifiedInputFlags);
}

std::string Detail(ErrorNumber number, const std::string& path, const std::string& reason) {
  return std::string(DescribeError(number)) + " (" + path + ": " + reason + ")";
}

std::string SystemReason(int error) { return std::system_category().message(error); }

}  // namespace

termios RawLineTermios(const termios& base, const LineSettings& line, std::int32_t handshaking) {
  termios t = base;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                       ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | kMarkSpaceFlag |
                                       kHardwareFlowMask);
  t.c_cflag |= CLOCAL | CREAD;
  // A break condition is line state, not a received NUL byte.
  t.c_iflag |= IGNBRK;

  t.c_cflag |= CharacterSizeFlag(line.data_bits);
  const tcflag_t parity = ParityFlags(line.parity);
  t.c_cflag |= parity;
  // A character that fails the parity check is dropped, never handed over as data: a
  // frame missing a byte is rejected, a frame with a wrong byte might not be.
  if (parity != 0) t.c_iflag |= INPCK | IGNPAR;

  switch (line.stop_bits) {
    case StopBits::One: break;
    case StopBits::Two: t.c_cflag |= CSTOPB; break;
    case StopBits::OnePointFive: CannotApply();
  }

  switch (handshaking) {
    case 0: break;
    case 1: t.c_iflag |= IXON | IXOFF; break;
    case 2: t.c_cflag |= HardwareFlowFlag(); break;
    case 3:
      t.c_iflag |= IXON | IXOFF;
      t.c_cflag |= HardwareFlowFlag();
      break;
    default: throw AutomationError(ErrorNumber::InvalidPropertyValue);
  }
  t.c_cc[VSTART] = 0x11;
  t.c_cc[VSTOP] = 0x13;
  // With VMIN 0 a read of an empty line returns 0, indistinguishable from a hang-up; with
  // VMIN 1 on the non-blocking descriptor it fails with EAGAIN instead.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  const speed_t speed = SpeedFor(line.baud);
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) CannotApply();
  return t;
}

// One open terminal device: held exclusively, in raw mode, with the bytes already read
// from it but not yet taken. Closing puts back the settings it had before.
class TerminalDevice {
 public:
  // Raises 8002 when the path does not open as a terminal, 8005 when another holder has
  // it, 8015 when the line cannot be set; nothing stays open after a raise.
  TerminalDevice(std::string path, const LineSettings& line, std::int32_t handshaking)
      : path_(std::move(path)) {
    do {
      fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
      const int error = errno;
      const ErrorNumber number =
          error == EBUSY ? ErrorNumber::PortAlreadyOpen : ErrorNumber::InvalidPortNumber;
      throw AutomationError(number, Detail(number, path_, SystemReason(error)));
    }
    try {
      Acquire(line, handshaking);
    } catch (...) {
      Release();
      throw;
    }
  }

  ~TerminalDevice() { Release(); }

  TerminalDevice(const TerminalDevice&) = delete;
  TerminalDevice& operator=(const TerminalDevice&) = delete;

  // Raises 8015 and leaves the line as it was when the device will not take the settings.
  void Apply(const LineSettings& line, std::int32_t handshaking) {
    termios current{};
    if (::tcgetattr(fd_, &current) != 0) CannotApply();
    const termios wanted = RawLineTermios(current, line, handshaking);
    termios actual{};
    if (::tcsetattr(fd_, TCSANOW, &wanted) == 0 && ::tcgetattr(fd_, &actual) == 0 &&
        SameLine(wanted, actual)) {
      line_ = line;
      return;
    }
    ::tcsetattr(fd_, TCSANOW, &current);
    CannotApply();
  }

  // Writes what the driver takes now; the rest waits in unsent_ for Drain, so a line
  // that takes nothing never blocks the caller here.
  void Write(std::span<const std::uint8_t> bytes) {
    unsent_.insert(unsent_.end(), bytes.begin(), bytes.end());
    WriteUnsent();
  }

  std::int32_t Waiting() {
    int in_driver = 0;
    if (::ioctl(fd_, FIONREAD, &in_driver) != 0) Failed(SystemReason(errno));
    const std::size_t total = received_.size() + static_cast<std::size_t>(std::max(in_driver, 0));
    return static_cast<std::int32_t>(std::min<std::size_t>(total, INT32_MAX));
  }

  // Takes at most `limit` received bytes, every one when limit is 0.
  std::vector<std::uint8_t> Take(std::size_t limit) {
    const bool hung_up = !ReadAvailable();
    // Bytes that arrived before a hang-up are still handed over; the next call reports it.
    if (hung_up && received_.empty()) Failed("the device hung up");
    return TakeHeld(limit);
  }

  bool WaitForInput(std::chrono::nanoseconds max_wait) {
    if (!received_.empty()) return true;
    const SteadyClock::time_point deadline = DeadlineAfter(max_wait);
    for (;;) {
      pollfd entry{fd_, POLLIN, 0};
      const int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
      if (ready < 0 && errno != EINTR) Failed(SystemReason(errno));
      if (ready > 0) {
        if ((entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) Failed("the device hung up");
        if ((entry.revents & POLLIN) != 0) {
          if (!ReadAvailable()) Failed("the device hung up");
          if (!received_.empty()) return true;
        }
      }
      if (SteadyClock::now() >= deadline) return false;
    }
  }

  // One poll and one read when the answer comes in one piece: the bytes the wait reads
  // are handed over without asking the driver again.
  std::vector<std::uint8_t> ReadArriving(std::int32_t count, std::chrono::nanoseconds max_wait,
                                         std::size_t limit) {
    const SteadyClock::time_point deadline = DeadlineAfter(max_wait);
    if (!received_.empty()) {
      ReadAvailable();
    } else if (!WaitForInput(max_wait)) {
      return {};
    }
    const auto waiting = static_cast<std::int64_t>(received_.size());
    if (waiting < count) {
      // The rest of the burst is on the line: the driver collects it while we sleep.
      const auto burst = std::chrono::duration_cast<SteadyClock::duration>(line_.CharacterTime() * (count - waiting));
      std::this_thread::sleep_until(std::min(SteadyClock::now() + burst, deadline));
      // A hang-up meanwhile is reported by the next read; these bytes still count.
      ReadAvailable();
    }
    return TakeHeld(limit);
  }

  // Hands what is still unsent to the driver as the line takes it. Bytes in the driver's
  // own queue count as taken: it sends them at the line's pace, and the exchange allows
  // the request's wire time for that without asking the driver.
  bool Drain(std::chrono::nanoseconds max_wait) {
    const SteadyClock::time_point deadline = DeadlineAfter(max_wait);
    while (!unsent_.empty()) {
      pollfd entry{fd_, POLLOUT, 0};
      const int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
      if (ready < 0 && errno != EINTR) Failed(SystemReason(errno));
      if (ready > 0) {
        if ((entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) Failed("the device hung up");
        WriteUnsent();
      }
      if (!unsent_.empty() && SteadyClock::now() >= deadline) return false;
    }
    return true;
  }

  void DiscardOutput() {
    unsent_.clear();
    ::tcflush(fd_, TCOFLUSH);
  }

 private:
  void Acquire(const LineSettings& line, std::int32_t handshaking) {
    if (::tcgetattr(fd_, &original_) != 0) {
      throw AutomationError(ErrorNumber::InvalidPortNumber,
                            Detail(ErrorNumber::InvalidPortNumber, path_, "not a terminal"));
    }
    // The advisory lock refuses a second holder even where TIOCEXCL does not (a privileged
    // process may open an exclusive terminal anyway); neither is taken over from another
    // holder, so a refused open must not clear the exclusive flag.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      throw AutomationError(ErrorNumber::PortAlreadyOpen,
                            Detail(ErrorNumber::PortAlreadyOpen, path_, "held by another port"));
    }
    if (::ioctl(fd_, TIOCEXCL) == 0) exclusive_ = true;
    Apply(line, handshaking);
    restore_on_close_ = true;
    // Bytes that arrived before the port was opened belong to nobody's exchange.
    ::tcflush(fd_, TCIFLUSH);
  }

  // Errors are ignored here: a device that vanished has nothing left to restore.
  void Release() noexcept {
    if (restore_on_close_) ::tcsetattr(fd_, TCSANOW, &original_);
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }

  // Reads every byte the driver holds into received_. False when the device hung up. A
  // read that comes back short has emptied the driver, so it is not asked again.
  bool ReadAvailable() {
    std::uint8_t chunk[4096];
    for (;;) {
      const ssize_t count = ::read(fd_, chunk, sizeof chunk);
      if (count > 0) {
        received_.insert(received_.end(), chunk, chunk + count);
        if (static_cast<std::size_t>(count) < sizeof chunk) return true;
      } else if (count == 0) {
        return false;
      } else if (errno == EINTR) {
        continue;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return true;
      } else if (errno == EIO) {
        return false;
      } else {
        Failed(SystemReason(errno));
      }
    }
  }

  // Takes at most `limit` of the bytes already read, every one when limit is 0.
  std::vector<std::uint8_t> TakeHeld(std::size_t limit) {
    const std::size_t count = limit == 0 ? received_.size() : std::min(limit, received_.size());
    std::vector<std::uint8_t> taken(received_.begin(),
                                    received_.begin() + static_cast<std::ptrdiff_t>(count));
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
    return taken;
  }

  // Writes as much of unsent_ as the driver takes without blocking.
  void WriteUnsent() {
    std::size_t done = 0;
    while (done < unsent_.size()) {
      const ssize_t written = ::write(fd_, unsent_.data() + done, unsent_.size() - done);
      if (written > 0) {
        done += static_cast<std::size_t>(written);
      } else if (written < 0 && errno == EINTR) {
        continue;
      } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        Failed(written < 0 ? SystemReason(errno) : "the device accepted no bytes");
      }
    }
    unsent_.erase(unsent_.begin(), unsent_.begin() + static_cast<std::ptrdiff_t>(done));
  }

  static SteadyClock::time_point DeadlineAfter(std::chrono::nanoseconds max_wait) {
    const SteadyClock::time_point now = SteadyClock::now();
    if (max_wait <= std::chrono::nanoseconds::zero()) return now;
    if (max_wait >= SteadyClock::time_point::max() - now) return SteadyClock::time_point::max();
    return now + std::chrono::duration_cast<SteadyClock::duration>(max_wait);
  }

  // Rounded up, so poll never returns just before the deadline and has to be re-armed
  // with a zero time-out.
  static int MillisecondsUntil(SteadyClock::time_point deadline) {
    const SteadyClock::duration remaining = deadline - SteadyClock::now();
    if (remaining <= SteadyClock::duration::zero()) return 0;
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return static_cast<int>(std::min<decltype(milliseconds)>(milliseconds, INT_MAX));
  }

  [[noreturn]] void Failed(const std::string& reason) const {
    throw AutomationError(ErrorNumber::DeviceIo, Detail(ErrorNumber::DeviceIo, path_, reason));
  }

  std::string path_;
  int fd_ = -1;
  termios original_{};
  bool exclusive_ = false;
  bool restore_on_close_ = false;
  std::vector<std::uint8_t> received_;
  std::vector<std::uint8_t> unsent_;
  LineSettings line_;
};

PosixSerialPort::PosixSerialPort() = default;

PosixSerialPort::PosixSerialPort(std::string device_path) : device_path_(std::move(device_path)) {}

PosixSerialPort::~PosixSerialPort() = default;

std::int16_t PosixSerialPort::CommPort() const { return comm_port_; }

void PosixSerialPort::SetCommPort(std::int16_t port) {
  if (device_) throw AutomationError(ErrorNumber::PortOpened);
  if (port < 1) throw AutomationError(ErrorNumber::InvalidPortNumber);
  comm_port_ = port;
}

std::string PosixSerialPort::Settings() const { return settings_text_; }

void PosixSerialPort::SetSettings(const std::string& settings) {
  const LineSettings line = ParseLineSettings(settings);
  // While closed only the text is checked; what the device can do is known at open.
  if (device_) device_->Apply(line, handshaking_);
  settings_text_ = settings;
  line_ = line;
}

std::int32_t PosixSerialPort::Handshaking() const { return handshaking_; }

void PosixSerialPort::SetHandshaking(std::int32_t handshaking) {
  if (handshaking < 0 || handshaking > 3) throw AutomationError(ErrorNumber::InvalidPropertyValue);
  if (device_) device_->Apply(line_, handshaking);
  handshaking_ = handshaking;
}

bool PosixSerialPort::PortOpen() const { return device_ != nullptr; }

void PosixSerialPort::SetPortOpen(bool open) {
  if (!open) {
    device_.reset();
    return;
  }
  if (device_) throw AutomationError(ErrorNumber::PortAlreadyOpen);
  device_ = std::make_unique<TerminalDevice>(DevicePath(), line_, handshaking_);
}

void PosixSerialPort::Output(std::span<const std::uint8_t> bytes) { OpenDevice().Write(bytes); }

std::int32_t PosixSerialPort::InBufferCount() { return OpenDevice().Waiting(); }

void PosixSerialPort::SetInputLen(std::int16_t length) {
  if (length < 0) throw AutomationError(ErrorNumber::InvalidPropertyValue);
  input_len_ = length;
}

std::vector<std::uint8_t> PosixSerialPort::Input() {
  return OpenDevice().Take(static_cast<std::size_t>(input_len_));
}

bool PosixSerialPort::WaitForInput(std::chrono::nanoseconds max_wait) {
  return OpenDevice().WaitForInput(max_wait);
}

std::vector<std::uint8_t> PosixSerialPort::ReadArriving(std::int32_t count,
                                                        std::chrono::nanoseconds max_wait) {
  return OpenDevice().ReadArriving(count, max_wait, static_cast<std::size_t>(input_len_));
}

bool PosixSerialPort::Drain(std::chrono::nanoseconds max_wait) {
  return OpenDevice().Drain(max_wait);
}

void PosixSerialPort::DiscardOutput() { OpenDevice().DiscardOutput(); }

std::string PosixSerialPort::DevicePath() const {
  if (device_path_) return *device_path_;
  return "/dev/ttyS" + std::to_string(comm_port_ - 1);
}

TerminalDevice& PosixSerialPort::OpenDevice() {
  if (!device_) throw AutomationError(ErrorNumber::DeviceNotOpen);
  return *device_;
}

std::unique_ptr<SerialPort> MakePlatformSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

std::unique_ptr<SerialPort> MakePlatformSerialPort(const std::string& device_path) {
  return std::make_unique<PosixSerialPort>(device_path);
}

}  // namespace kestova
