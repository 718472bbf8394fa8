#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace kestova::sim {

// Answers waiting to go on the line, each byte with an absolute due time, so pacing and
// trickling never drift with the overshoot of individual waits: whatever is late goes
// out at once in one write. Pure bookkeeping; the caller reads the clock and writes.
class OutputSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  struct Transmission {
    std::vector<std::uint8_t> bytes;
    Clock::time_point start{};
    std::chrono::nanoseconds gap{0};        // extra time before every byte after the first
    std::chrono::nanoseconds char_time{0};  // time each byte takes on the line (pacing)
    bool droppable = false;                 // dropped if a new request comes before it starts
    std::size_t sent = 0;
  };

  // Queues `t`; it starts no earlier than the end of the one before. Empty ones are ignored.
  void Add(Transmission t);

  // A new request arrived: forget droppable transmissions that have not begun.
  void DropUnstarted();

  // Bytes of the front transmission that are due at `now` (possibly none).
  std::span<const std::uint8_t> Due(Clock::time_point now) const;

  // `n` bytes of the front were written; returns true when that finished it.
  bool Consumed(std::size_t n);

  // Gives up on the front transmission (the line refused it).
  void DropFront();

  // When the next byte is due; nullopt when nothing waits.
  std::optional<Clock::time_point> NextDue() const;

  bool empty() const { return queue_.empty(); }

  static Clock::time_point DueTime(const Transmission& t, std::size_t index);

 private:
  std::deque<Transmission> queue_;
};

}  // namespace kestova::sim
