#include "support/memory_port.h"

#include <algorithm>

#include "link/automation_error.h"
#include "link/line_settings.h"

namespace kestova::testing {

void MemoryPort::Deliver(std::vector<std::uint8_t> bytes, std::chrono::nanoseconds after) {
  Arrival arrival{host_.MonotonicNow() + after, std::move(bytes)};
  auto at = std::upper_bound(arrivals_.begin(), arrivals_.end(), arrival.due,
                             [](MonotonicTime due, const Arrival& a) { return due < a.due; });
  arrivals_.insert(at, std::move(arrival));
}

void MemoryPort::SetCommPort(std::int16_t port) {
  if (open_) throw AutomationError(ErrorNumber::PortOpened);
  if (port < 1) throw AutomationError(ErrorNumber::InvalidPortNumber);
  comm_port_ = port;
}

void MemoryPort::SetSettings(const std::string& settings) {
  ParseLineSettings(settings);
  settings_ = settings;
}

void MemoryPort::SetHandshaking(std::int32_t handshaking) {
  if (handshaking < 0 || handshaking > 3) throw AutomationError(ErrorNumber::InvalidPropertyValue);
  handshaking_ = handshaking;
}

void MemoryPort::SetPortOpen(bool open) {
  if (open && open_) throw AutomationError(ErrorNumber::PortAlreadyOpen);
  open_ = open;
  hung_up_ = false;
}

void MemoryPort::RequireOpen() const {
  if (!open_) throw AutomationError(ErrorNumber::DeviceNotOpen);
}

void MemoryPort::Output(std::span<const std::uint8_t> bytes) {
  RequireOpen();
  outputs_.emplace_back(bytes.begin(), bytes.end());
  leaving_ = true;
  if (transmit_time_ <= std::chrono::nanoseconds(0)) Drain({});
}

void MemoryPort::DiscardOutput() {
  RequireOpen();
  if (leaving_) discarded_outputs_++;
  leaving_ = false;
}

void MemoryPort::MoveDueArrivals() {
  const MonotonicTime now = host_.MonotonicNow();
  const bool xon_xoff = handshaking_ == 1 || handshaking_ == 3;
  while (!arrivals_.empty() && arrivals_.front().due <= now) {
    for (std::uint8_t b : arrivals_.front().bytes) {
      if (!xon_xoff || (b != 0x11 && b != 0x13)) buffer_.push_back(b);
    }
    arrivals_.pop_front();
  }
}

std::int32_t MemoryPort::InBufferCount() {
  RequireOpen();
  MoveDueArrivals();
  return static_cast<std::int32_t>(buffer_.size());
}

std::vector<std::uint8_t> MemoryPort::Input() {
  RequireOpen();
  if (fail_input_ && fail_input_->second-- == 0) {
    const int error = fail_input_->first;
    fail_input_.reset();
    throw AutomationError(static_cast<ErrorNumber>(error));
  }
  MoveDueArrivals();
  std::size_t take = buffer_.size();
  if (input_len_ > 0) take = std::min<std::size_t>(take, static_cast<std::size_t>(input_len_));
  std::vector<std::uint8_t> out(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(take));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(take));
  return out;
}

bool MemoryPort::WaitForInput(std::chrono::nanoseconds max_wait) {
  RequireOpen();
  if (hung_up_) throw AutomationError(ErrorNumber::DeviceIo, "Device I/O error (memory port hung up)");
  MoveDueArrivals();
  if (!buffer_.empty()) return true;
  const MonotonicTime now = host_.MonotonicNow();
  if (!arrivals_.empty() && arrivals_.front().due <= now + max_wait) {
    host_.Advance(arrivals_.front().due - now);
    MoveDueArrivals();
    return true;
  }
  host_.Advance(std::max(max_wait, std::chrono::nanoseconds(0)));
  return false;
}

bool MemoryPort::Drain(std::chrono::nanoseconds max_wait) {
  RequireOpen();
  if (!leaving_) return true;
  if (transmit_time_ > max_wait) {
    host_.Advance(std::max(max_wait, std::chrono::nanoseconds(0)));
    return false;
  }
  host_.Advance(transmit_time_);
  leaving_ = false;
  if (responder_) responder_(*this, outputs_.back());
  return true;
}

}  // namespace kestova::testing
