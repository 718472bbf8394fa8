#include "link/serial_win32.h"

#include <algorithm>
#include <cwctype>
#include <utility>

#include "link/automation_error.h"
#include "link/platform_port.h"

namespace kestova {
namespace {

constexpr DWORD kDriverQueueBytes = 4096;
// A write that the line does not take within its characters' time and this much more is
// held by flow control: Output returns and Drain tries again, so the wait stays within
// the caller's budget to about this much.
constexpr DWORD kWriteSlackMs = 100;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

BYTE DcbParity(Parity parity) {
  switch (parity) {
    case Parity::None:
      return NOPARITY;
    case Parity::Even:
      return EVENPARITY;
    case Parity::Odd:
      return ODDPARITY;
    case Parity::Mark:
      return MARKPARITY;
    case Parity::Space:
      return SPACEPARITY;
  }
  return NOPARITY;
}

BYTE DcbStopBits(StopBits stop_bits) {
  switch (stop_bits) {
    case StopBits::One:
      return ONESTOPBIT;
    case StopBits::OnePointFive:
      return ONE5STOPBITS;
    case StopBits::Two:
      return TWOSTOPBITS;
  }
  return ONESTOPBIT;
}

void CheckHandshaking(std::int32_t handshaking) {
  if (handshaking < 0 || handshaking > 3) {
    throw AutomationError(ErrorNumber::InvalidPropertyValue);
  }
}

}  // namespace

DCB LineDcb(const DCB& base, const LineSettings& line, std::int32_t handshaking) {
  DCB dcb = base;
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = static_cast<DWORD>(line.baud);
  dcb.ByteSize = static_cast<BYTE>(line.data_bits);
  dcb.Parity = DcbParity(line.parity);
  dcb.StopBits = DcbStopBits(line.stop_bits);
  dcb.fBinary = TRUE;
  dcb.fParity = line.parity == Parity::None ? FALSE : TRUE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;

  const bool rts_cts = handshaking == 2 || handshaking == 3;
  const bool xon_xoff = handshaking == 1 || handshaking == 3;
  dcb.fOutxCtsFlow = rts_cts ? TRUE : FALSE;
  dcb.fRtsControl = rts_cts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutX = xon_xoff ? TRUE : FALSE;
  dcb.fInX = xon_xoff ? TRUE : FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.XonLim = static_cast<WORD>(kDriverQueueBytes / 4);
  dcb.XoffLim = static_cast<WORD>(kDriverQueueBytes / 4);
  return dcb;
}

Win32SerialPort::Win32SerialPort() : line_(ParseLineSettings(settings_text_)) {}

Win32SerialPort::Win32SerialPort(std::string device_path)
    : device_path_(std::move(device_path)), line_(ParseLineSettings(settings_text_)) {}

Win32SerialPort::~Win32SerialPort() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  if (claim_) CloseHandle(claim_);
}

std::int16_t Win32SerialPort::CommPort() const { return comm_port_; }

void Win32SerialPort::SetCommPort(std::int16_t port) {
  if (PortOpen()) throw AutomationError(ErrorNumber::PortOpened);
  if (port < 1) throw AutomationError(ErrorNumber::InvalidPortNumber);
  comm_port_ = port;
}

std::string Win32SerialPort::Settings() const { return settings_text_; }

void Win32SerialPort::SetSettings(const std::string& settings) {
  const LineSettings line = ParseLineSettings(settings);
  if (PortOpen()) ApplyLine(handle_, line, handshaking_);
  settings_text_ = settings;
  line_ = line;
}

std::int32_t Win32SerialPort::Handshaking() const { return handshaking_; }

void Win32SerialPort::SetHandshaking(std::int32_t handshaking) {
  CheckHandshaking(handshaking);
  if (PortOpen()) ApplyLine(handle_, line_, handshaking);
  handshaking_ = handshaking;
}

bool Win32SerialPort::PortOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

void Win32SerialPort::SetPortOpen(bool open) {
  if (open) {
    if (PortOpen()) throw AutomationError(ErrorNumber::PortAlreadyOpen);
    HANDLE claim = ClaimDevice();
    try {
      handle_ = OpenHandle();
    } catch (...) {
      CloseHandle(claim);
      throw;
    }
    claim_ = claim;
    armed_constant_ms_.reset();
    return;
  }
  if (!PortOpen()) return;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  CloseHandle(claim_);
  claim_ = nullptr;
  taken_early_.clear();
  unsent_.clear();
}

std::wstring Win32SerialPort::DevicePath() const {
  if (device_path_) return Widen(*device_path_);
  return L"\\\\.\\COM" + std::to_wstring(comm_port_);
}

HANDLE Win32SerialPort::ClaimDevice() const {
  // Windows' serial driver refuses a second opener by itself; not every implementation of
  // the API does (Wine hands out a second handle to the same line). A named object that
  // lives while the port is open makes the refusal the same everywhere, across processes.
  std::wstring name = L"Kestova.SerialPort:" + DevicePath();
  for (wchar_t& c : name) c = c == L'\\' ? L'/' : static_cast<wchar_t>(towupper(c));
  HANDLE claim = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!claim) throw AutomationError(ErrorNumber::PortAlreadyOpen);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    throw AutomationError(ErrorNumber::PortAlreadyOpen);
  }
  return claim;
}

HANDLE Win32SerialPort::OpenHandle() const {
  HANDLE handle = CreateFileW(DevicePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      throw AutomationError(ErrorNumber::PortAlreadyOpen);
    }
    throw AutomationError(ErrorNumber::InvalidPortNumber);
  }
  try {
    DCB probe{};
    probe.DCBlength = sizeof(DCB);
    // A handle that has no comm state is not a serial port (a file, a console).
    if (!GetCommState(handle, &probe)) throw AutomationError(ErrorNumber::InvalidPortNumber);
    SetupComm(handle, kDriverQueueBytes, kDriverQueueBytes);
    ApplyLine(handle, line_, handshaking_);
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
  } catch (...) {
    CloseHandle(handle);
    throw;
  }
  return handle;
}

void Win32SerialPort::ApplyLine(HANDLE handle, const LineSettings& line,
                                std::int32_t handshaking) const {
  DCB current{};
  current.DCBlength = sizeof(DCB);
  if (!GetCommState(handle, &current)) throw AutomationError(ErrorNumber::CommStateFailed);
  DCB wanted = LineDcb(current, line, handshaking);
  // A refused DCB leaves the driver's state as it was, so the line keeps its settings.
  if (!SetCommState(handle, &wanted)) throw AutomationError(ErrorNumber::CommStateFailed);
}

HANDLE Win32SerialPort::RequireOpen() const {
  if (!PortOpen()) throw AutomationError(ErrorNumber::DeviceNotOpen);
  return handle_;
}

void Win32SerialPort::SetReadTimeouts(DWORD total_constant_ms) {
  if (armed_constant_ms_ == total_constant_ms) return;
  const auto char_ns = line_.CharacterTime().count();
  COMMTIMEOUTS timeouts{};
  if (total_constant_ms == 0) {
    // Return at once with whatever the driver holds.
    timeouts.ReadIntervalTimeout = MAXDWORD;
  } else {
    // Return on the first byte, or after total_constant_ms with none.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = total_constant_ms;
  }
  timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(char_ns / 1'000'000 + 1);
  timeouts.WriteTotalTimeoutConstant = kWriteSlackMs;
  if (!SetCommTimeouts(handle_, &timeouts)) throw AutomationError(ErrorNumber::DeviceIo);
  armed_constant_ms_ = total_constant_ms;
}

DWORD Win32SerialPort::DriverQueueCount() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(RequireOpen(), &errors, &status)) {
    throw AutomationError(ErrorNumber::DeviceIo);
  }
  return status.cbInQue;
}

void Win32SerialPort::ReadAvailable(std::size_t limit, std::vector<std::uint8_t>& into) {
  const std::size_t waiting = std::min<std::size_t>(limit, DriverQueueCount());
  if (waiting == 0) return;
  SetReadTimeouts(0);
  const std::size_t start = into.size();
  into.resize(start + waiting);
  DWORD got = 0;
  if (!ReadFile(handle_, into.data() + start, static_cast<DWORD>(waiting), &got, nullptr)) {
    into.resize(start);
    throw AutomationError(ErrorNumber::DeviceIo);
  }
  into.resize(start + got);
}

void Win32SerialPort::Output(std::span<const std::uint8_t> bytes) {
  RequireOpen();
  SetReadTimeouts(armed_constant_ms_.value_or(0));
  unsent_.insert(unsent_.end(), bytes.begin(), bytes.end());
  WriteUnsent();
}

void Win32SerialPort::WriteUnsent() {
  while (!unsent_.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle_, unsent_.data(), static_cast<DWORD>(unsent_.size()), &written, nullptr)) {
      throw AutomationError(ErrorNumber::DeviceIo);
    }
    unsent_.erase(unsent_.begin(), unsent_.begin() + static_cast<std::ptrdiff_t>(written));
    // The write time-out passed with the line taking nothing: flow control is held.
    if (written == 0) return;
  }
}

std::int32_t Win32SerialPort::InBufferCount() {
  const DWORD queued = DriverQueueCount();
  return static_cast<std::int32_t>(taken_early_.size() + queued);
}

void Win32SerialPort::SetInputLen(std::int16_t length) { input_len_ = length; }

std::vector<std::uint8_t> Win32SerialPort::Input() {
  RequireOpen();
  const std::size_t limit = input_len_ > 0 ? static_cast<std::size_t>(input_len_) : SIZE_MAX;
  std::vector<std::uint8_t> bytes;
  const std::size_t early = std::min(limit, taken_early_.size());
  bytes.assign(taken_early_.begin(), taken_early_.begin() + static_cast<std::ptrdiff_t>(early));
  taken_early_.erase(taken_early_.begin(),
                     taken_early_.begin() + static_cast<std::ptrdiff_t>(early));
  if (bytes.size() < limit) ReadAvailable(limit - bytes.size(), bytes);
  return bytes;
}

bool Win32SerialPort::WaitForInput(std::chrono::nanoseconds max_wait) {
  RequireOpen();
  if (!taken_early_.empty() || DriverQueueCount() > 0) return true;
  if (max_wait <= std::chrono::nanoseconds::zero()) return false;
  // Whole milliseconds, rounded up so a short wait never turns into no wait at all.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(max_wait).count();
  const DWORD constant = static_cast<DWORD>(std::min<long long>(ms, MAXDWORD - 1));
  SetReadTimeouts(constant);
  std::uint8_t byte = 0;
  DWORD got = 0;
  if (!ReadFile(handle_, &byte, 1, &got, nullptr)) throw AutomationError(ErrorNumber::DeviceIo);
  if (got == 0) return false;
  taken_early_.push_back(byte);
  return true;
}

DWORD Win32SerialPort::DriverOutQueueCount() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(RequireOpen(), &errors, &status)) {
    throw AutomationError(ErrorNumber::DeviceIo);
  }
  return status.cbOutQue;
}

bool Win32SerialPort::Drain(std::chrono::nanoseconds max_wait) {
  RequireOpen();
  const auto deadline = std::chrono::steady_clock::now() + max_wait;
  // A line held by flow control is tried again until the deadline; each try waits at
  // most the write time-out.
  while (!unsent_.empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    WriteUnsent();
  }
  // Writes are synchronous, so the queue is normally empty already; otherwise sleep for
  // the characters still queued, never spin.
  for (;;) {
    const DWORD queued = DriverOutQueueCount();
    if (queued == 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    const auto pause = std::min<std::chrono::nanoseconds>(
        line_.CharacterTime() * queued + std::chrono::milliseconds(1), deadline - now);
    Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(pause).count()));
  }
}

void Win32SerialPort::DiscardOutput() {
  PurgeComm(RequireOpen(), PURGE_TXABORT | PURGE_TXCLEAR);
  unsent_.clear();
}

std::unique_ptr<SerialPort> MakePlatformSerialPort() { return std::make_unique<Win32SerialPort>(); }

std::unique_ptr<SerialPort> MakePlatformSerialPort(const std::string& device_path) {
  return std::make_unique<Win32SerialPort>(device_path);
}

}  // namespace kestova
