#include "bench/echo_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace kestova::bench {

EchoPeer::EchoPeer() : terminal_(OpenPseudoTerminal()) {
  keep_alive_ = OpenRawTerminal(terminal_.slave_path);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  stop_read_ = UniqueFd(ends[0]);
  stop_write_ = UniqueFd(ends[1]);
  thread_ = std::thread([this] { Serve(); });
}

EchoPeer::~EchoPeer() {
  // Closing the write end wakes the serving thread's poll with a hang-up.
  stop_write_.Reset();
  thread_.join();
}

void EchoPeer::SetExchange(std::size_t request_length, std::vector<std::uint8_t> answer) {
  const std::lock_guard lock(mutex_);
  request_length_ = request_length;
  answer_ = std::move(answer);
  pending_ = 0;
}

void EchoPeer::SetAnswerDelay(std::chrono::microseconds delay) {
  const std::lock_guard lock(mutex_);
  delay_ = delay;
}

void EchoPeer::Serve() {
  std::uint8_t chunk[4096];
  for (;;) {
    pollfd entries[2] = {{terminal_.master.get(), POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[1].revents != 0) return;
    if ((entries[0].revents & POLLIN) == 0) continue;
    const ssize_t count = ::read(terminal_.master.get(), chunk, sizeof chunk);
    if (count > 0) {
      Consume(static_cast<std::size_t>(count));
    } else if (count < 0 && errno != EINTR && errno != EAGAIN) {
      return;
    }
  }
}

void EchoPeer::Consume(std::size_t count) {
  const std::lock_guard lock(mutex_);
  if (request_length_ == 0) return;
  pending_ += count;
  while (pending_ >= request_length_) {
    pending_ -= request_length_;
    if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
    WriteAll(terminal_.master.get(), answer_);
  }
}

}  // namespace kestova::bench
