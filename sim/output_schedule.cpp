#include "sim/output_schedule.h"

#include <algorithm>

namespace kestova::sim {

OutputSchedule::Clock::time_point OutputSchedule::DueTime(const Transmission& t,
                                                          std::size_t index) {
  const auto i = static_cast<std::int64_t>(index);
  return t.start + t.gap * i + t.char_time * (i + 1);
}

void OutputSchedule::Add(Transmission t) {
  if (t.bytes.empty()) return;
  t.sent = 0;
  if (!queue_.empty()) {
    const auto& last = queue_.back();
    t.start = std::max(t.start, DueTime(last, last.bytes.size() - 1));
  }
  queue_.push_back(std::move(t));
}

void OutputSchedule::DropUnstarted() {
  std::erase_if(queue_, [](const Transmission& t) { return t.droppable && t.sent == 0; });
}

std::span<const std::uint8_t> OutputSchedule::Due(Clock::time_point now) const {
  if (queue_.empty()) return {};
  const auto& front = queue_.front();
  std::size_t end = front.sent;
  if (front.gap.count() == 0 && front.char_time.count() == 0) {
    // Neither paced nor trickled: all of it is due at its start.
    if (front.start <= now) end = front.bytes.size();
  } else {
    while (end < front.bytes.size() && DueTime(front, end) <= now) ++end;
  }
  return std::span<const std::uint8_t>(front.bytes).subspan(front.sent, end - front.sent);
}

bool OutputSchedule::Consumed(std::size_t n) {
  if (queue_.empty()) return false;
  auto& front = queue_.front();
  front.sent = std::min(front.bytes.size(), front.sent + n);
  if (front.sent < front.bytes.size()) return false;
  queue_.pop_front();
  return true;
}

void OutputSchedule::DropFront() {
  if (!queue_.empty()) queue_.pop_front();
}

std::optional<OutputSchedule::Clock::time_point> OutputSchedule::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return DueTime(queue_.front(), queue_.front().sent);
}

}  // namespace kestova::sim
