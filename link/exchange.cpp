#include "link/exchange.h"

#include <algorithm>
#include <vector>

#include "link/answer_reader.h"
#include "link/comm_log.h"
#include "link/line_settings.h"

namespace kestova {

using std::chrono::nanoseconds;
using std::chrono::seconds;

namespace {

// Room past the expected length for an error answer that carries error information.
constexpr std::size_t kAnswerSlack = 32;
// Header through end code, between DLE STX and DLE ETX.
constexpr std::size_t kShortestBody = 14;
constexpr nanoseconds kQuietFloor = std::chrono::milliseconds(100);
constexpr nanoseconds kQuietLimit = seconds(1);
constexpr int kQuietCharacters = 20;

}  // namespace

// Everything one exchange needs to know to write its records.
class Exchange {
 public:
  Exchange(const LinkEnvironment& env, const ExchangeSettings& settings, const ExchangePlan& plan)
      : env_(env), settings_(settings), plan_(plan), log_(env.log_folder, env.clock) {}

  std::int16_t Run();

 private:
  void MarkStart();
  nanoseconds CharacterTime() const;
  void DropStaleInput();
  void TakeInput(AnswerReader& reader);
  std::int32_t BytesStillExpected(const AnswerReader& reader, std::size_t expected) const;
  std::int16_t TimedOut(const AnswerReader& reader, MonotonicTime now);
  std::int16_t Refuse(const std::string& what);
  void LogAnswerRecord(const std::string& message);
  void DiscardInput() { env_.port.Input(); }

  const LinkEnvironment& env_;
  const ExchangeSettings& settings_;
  const ExchangePlan& plan_;
  CommLog log_;

  WireFrame frame_;
  std::string start_stamp_;
  nanoseconds start_fraction_{0};
  MonotonicTime start_{};
  std::vector<std::uint8_t> received_;
};

std::int16_t Exchange::Run() {
  SerialPort& port = env_.port;
  if (!port.PortOpen()) {
    env_.raise("Port not Open");
    return 1;
  }
  frame_ = BuildFrame(plan_.build_request(), settings_.routing, settings_.sum_check);

  port.SetInputLen(0);
  DropStaleInput();
  env_.line.unsettled_ = true;  // until a well-formed answer proves the line is in step
  MarkStart();
  port.Output(frame_.bytes);
  // The clock starts once the frame has left the port: a long frame on a slow line
  // must not eat into the PLC's time to answer. A line that does not take the frame in
  // twice its wire time and a second (flow control held, a peer that does not read) is
  // a time-out too, counted from the send.
  if (!port.Drain(2 * CharacterTime() * static_cast<std::int64_t>(frame_.bytes.size()) + seconds(1))) {
    port.DiscardOutput();
    return TimedOut(AnswerReader(settings_.sum_check, 0), env_.clock.MonotonicNow());
  }
  MarkStart();

  // Whole-second arithmetic on the wall clock's second boundaries, measured on the
  // monotonic clock: the wait ends after Timeout + 1 - f seconds, f being the fraction
  // of the second at the start; a negative Timeout checks once.
  const MonotonicTime deadline =
      settings_.timeout_seconds < 0
          ? start_
          : start_ + seconds(settings_.timeout_seconds + 1) - start_fraction_;

  const std::size_t expected =
      static_cast<std::size_t>(plan_.answer_length_without_sum) + (settings_.sum_check ? 2 : 0);
  AnswerReader reader(settings_.sum_check, expected + kAnswerSlack);
  for (;;) {
    TakeInput(reader);
    if (reader.complete()) break;
    const MonotonicTime now = env_.clock.MonotonicNow();
    if (now >= deadline) return TimedOut(reader, now);
    port.WaitForBytes(BytesStillExpected(reader, expected), deadline - now);
  }

  if (!reader.sum_check_passed()) return Refuse("SumCheck Error");
  if (reader.body().size() < kShortestBody) return Refuse("Answer Length Error");
  const std::int16_t end_code = EndCode(reader.image());
  if (end_code != 0) {
    DiscardInput();
    const auto code = static_cast<std::uint16_t>(end_code);
    LogAnswerRecord(plan_.operation + " ErroCode=" + HexByte(static_cast<std::uint8_t>(code >> 8)) +
                    HexByte(static_cast<std::uint8_t>(code & 0xFF)));
    env_.line.unsettled_ = reader.dropped_frames() > 0;
    return end_code;
  }
  if (reader.image().size() != expected) return Refuse("Answer Length Error");

  if (plan_.unpack) {
    plan_.unpack(reader.body().subspan(kShortestBody));
  }
  DiscardInput();
  env_.line.unsettled_ = reader.dropped_frames() > 0;
  return 0;
}

void Exchange::MarkStart() {
  start_ = env_.clock.MonotonicNow();
  const LocalDateTime start_local = env_.clock.LocalNow();
  start_stamp_ = TimestampText(start_local);
  start_fraction_ = nanoseconds(start_local.nanosecond);
}

nanoseconds Exchange::CharacterTime() const {
  try {
    return ParseLineSettings(env_.port.Settings()).CharacterTime();
  } catch (const std::exception&) {
    // A settings text the port accepted but we cannot read: assume a slow line.
    return ParseLineSettings("1200,n,8,1").CharacterTime();
  }
}

void Exchange::DropStaleInput() {
  SerialPort& port = env_.port;
  if (!env_.line.unsettled_) {
    DiscardInput();
    return;
  }
  // The last exchange ended without a good answer, so its answer may still be on its
  // way: wait for the line to go quiet, so that late answer is not taken as ours.
  const nanoseconds quiet = std::max(kQuietFloor, CharacterTime() * kQuietCharacters);
  const MonotonicTime limit = env_.clock.MonotonicNow() + kQuietLimit;
  for (;;) {
    DiscardInput();
    const MonotonicTime now = env_.clock.MonotonicNow();
    if (now >= limit) break;
    if (!port.WaitForInput(std::min(quiet, nanoseconds(limit - now)))) break;
  }
  env_.line.unsettled_ = false;
}

void Exchange::TakeInput(AnswerReader& reader) {
  const std::vector<std::uint8_t> bytes = env_.port.Input();
  if (bytes.empty()) return;
  received_.insert(received_.end(), bytes.begin(), bytes.end());
  reader.Feed(bytes);
}

// The fewest bytes that can still complete the answer: the smallest frame until its end
// code is in, the rest of the expected answer once a normal end code is, and no more
// than one byte for an error answer, whose length is not known in advance.
std::int32_t Exchange::BytesStillExpected(const AnswerReader& reader, std::size_t expected) const {
  const std::size_t trailer = settings_.sum_check ? 4 : 2;
  const std::size_t have = reader.image().size();
  std::size_t total = 0;
  if (have < 2 + kShortestBody) {
    total = 2 + kShortestBody + trailer;
  } else if (EndCode(reader.image()) == 0) {
    total = expected;
  }
  return total > have ? static_cast<std::int32_t>(total - have) : 1;
}

std::int16_t Exchange::TimedOut(const AnswerReader& reader, MonotonicTime now) {
  const auto elapsed = std::chrono::duration_cast<seconds>(now - start_ + start_fraction_).count();
  if (!plan_.read_device_code) {
    env_.raise("TimeOut");
  } else if (settings_.sum_check && reader.awaiting_sum_characters()) {
    env_.raise("TimeOut, Maybe because Sumcheck not set in PLC ");
  } else {
    env_.raise("TimeOut " + std::to_string(static_cast<std::int32_t>(elapsed)) + " Second");
  }
  log_.Append({start_stamp_ + plan_.timeout_log_text + frame_.text});
  env_.port.SetInputLen(0);
  DiscardInput();
  return 1;
}

std::int16_t Exchange::Refuse(const std::string& what) {
  // A frame that arrived but cannot be trusted: reported like an error answer, but the
  // result is 1 and the line must settle before the next request.
  env_.raise(what);
  DiscardInput();
  LogAnswerRecord(plan_.operation + " " + what);
  return 1;
}

void Exchange::LogAnswerRecord(const std::string& message) {
  if (plan_.read_device_code) {
    log_.Append({PadToPrintZone(start_stamp_ + message + "DeviceCode = " +
                                HexNumber(*plan_.read_device_code) + frame_.text),
                 "InBuffer = " + HexText(received_)});
  } else {
    log_.Append({start_stamp_ + message + frame_.text});
  }
}

std::int16_t RunExchange(const LinkEnvironment& env, const ExchangeSettings& settings,
                         const ExchangePlan& plan) {
  return Exchange(env, settings, plan).Run();
}

}  // namespace kestova
