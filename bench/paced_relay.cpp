#include "bench/paced_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "bench/wire_time.h"

namespace kestova::bench {
namespace {

constexpr std::size_t kChunk = 4096;

// ppoll's nanosecond time-out: a millisecond one would add up to a millisecond to every
// request, a fifth of a short exchange's wire time at 115200 baud.
timespec Until(std::chrono::steady_clock::time_point due) {
  const auto remaining = std::max(std::chrono::nanoseconds::zero(),
                                  std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      due - std::chrono::steady_clock::now()));
  timespec t{};
  t.tv_sec = static_cast<time_t>(remaining.count() / 1'000'000'000);
  t.tv_nsec = static_cast<long>(remaining.count() % 1'000'000'000);
  return t;
}

}  // namespace

PacedRelay::PacedRelay(const std::string& far_path, const std::string& settings)
    : settings_(settings), near_(OpenPseudoTerminal()) {
  WireTime(1, settings_);  // refuses settings it cannot read before anything runs
  near_keep_alive_ = OpenRawTerminal(near_.slave_path);
  far_ = OpenRawTerminal(far_path);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  stop_read_ = UniqueFd(ends[0]);
  stop_write_ = UniqueFd(ends[1]);
  thread_ = std::thread([this] { Serve(); });
}

PacedRelay::~PacedRelay() {
  stop_write_.Reset();
  thread_.join();
}

void PacedRelay::Serve() {
  // The default timer slack (50 µs) would deliver each request up to half a character
  // late at 115200 baud; this thread's wakes are the line's timing, so they are asked
  // to be exact.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  for (;;) {
    DeliverDue();
    pollfd entries[3] = {{near_.master.get(), POLLIN, 0},
                         {far_.get(), POLLIN, 0},
                         {stop_read_.get(), POLLIN, 0}};
    timespec timeout{};
    if (!in_flight_.empty()) timeout = Until(in_flight_.front().due);
    if (::ppoll(entries, 3, in_flight_.empty() ? nullptr : &timeout, nullptr) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[2].revents != 0) return;
    if ((entries[0].revents & POLLIN) != 0) TakeRequestBytes();
    if ((entries[1].revents & POLLIN) != 0) PassAnswerBytes();
    // A side that hung up without data would wake poll for ever: stop serving instead.
    if ((entries[0].revents & POLLIN) == 0 && (entries[0].revents & (POLLHUP | POLLERR)) != 0) return;
    if ((entries[1].revents & POLLIN) == 0 && (entries[1].revents & (POLLHUP | POLLERR)) != 0) return;
  }
}

void PacedRelay::TakeRequestBytes() {
  std::vector<std::uint8_t> bytes(kChunk);
  const ssize_t count = ::read(near_.master.get(), bytes.data(), bytes.size());
  if (count <= 0) return;
  bytes.resize(static_cast<std::size_t>(count));
  // The line sends one character after another: a chunk starts when the one before it
  // has finished, or now if the line is idle.
  const Clock::time_point start = std::max(Clock::now(), line_free_);
  line_free_ = start + WireTime(bytes.size(), settings_);
  in_flight_.push_back(Chunk{line_free_, std::move(bytes)});
}

void PacedRelay::PassAnswerBytes() {
  std::uint8_t bytes[kChunk];
  const ssize_t count = ::read(far_.get(), bytes, sizeof bytes);
  if (count <= 0) return;
  WriteAll(near_.master.get(), std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(count)));
}

void PacedRelay::DeliverDue() {
  const Clock::time_point now = Clock::now();
  while (!in_flight_.empty() && in_flight_.front().due <= now) {
    WriteAll(far_.get(), in_flight_.front().bytes);
    in_flight_.pop_front();
  }
}

}  // namespace kestova::bench
