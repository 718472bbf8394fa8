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
// The least quiet on the line before a request follows an exchange that ended without
// an answer it accepted.
constexpr nanoseconds kQuietFloor = std::chrono::milliseconds(500);

}  // namespace

// Everything one exchange needs to know to write its records.
class Exchange {
 public:
  Exchange(const LinkEnvironment& env, const ExchangeSettings& settings, const ExchangePlan& plan)
      : env_(env), settings_(settings), plan_(plan) {}

  std::int16_t Run();

 private:
  std::int16_t SendAndWait();
  void MarkStart();
  MonotonicTime Now() { return env_.clock.MonotonicNow(); }
  nanoseconds CharacterTime() const;
  std::size_t ExpectedLength() const;
  std::size_t LongestAnswerOnWire() const;
  bool Settle();
  void Feed(AnswerReader& reader, std::span<const std::uint8_t> bytes);
  bool IsEcho(const AnswerReader& reader);
  std::int32_t BytesStillExpected(const AnswerReader& reader) const;
  std::int16_t Judge(const AnswerReader& reader);
  std::int16_t TimedOut(const AnswerReader* reader, bool sent);
  std::int16_t Refuse(const std::string& what);
  void TakeRest();
  void LogAnswerRecord(const std::string& message);
  void LeaveLine(bool settled);
  void Keep(const AutomationError& fault);
  // Records are rare: their texts are made only when one is written.
  void Log(std::initializer_list<std::string_view> lines);
  std::string StartStamp() const { return TimestampText(start_local_); }
  std::string RequestText() const { return HexText(frame_); }

  const LinkEnvironment& env_;
  const ExchangeSettings& settings_;
  const ExchangePlan& plan_;

  std::vector<std::uint8_t> frame_;  // the request's wire bytes
  std::size_t request_image_size_ = 0;
  std::optional<std::vector<std::uint8_t>> request_image_;  // made when a frame may be an echo
  nanoseconds char_time_{0};
  LocalDateTime start_local_;
  nanoseconds start_fraction_{0};
  MonotonicTime start_{};
  MonotonicTime budget_end_{};  // Timeout + 1 s from the start, whole-second arithmetic
  std::vector<std::uint8_t> received_;
};

std::int16_t Exchange::Run() {
  LineState& line = env_.line;
  if (!env_.port.PortOpen()) {
    // Whatever failed on the port before, it has been closed since.
    line.fault_.reset();
    env_.raise("Port not Open");
    return 1;
  }
  if (line.fault_) {
    const AutomationError fault = *line.fault_;
    line.fault_.reset();
    throw fault;
  }
  const Request request = plan_.build_request();
  frame_ = BuildWireBytes(request, settings_.routing, settings_.sum_check);
  request_image_size_ = 18 + request.data.size() + (settings_.sum_check ? 2 : 0);

  MarkStart();
  char_time_ = CharacterTime();
  // Whole-second arithmetic on the wall clock's second boundaries, measured on the
  // monotonic clock: Timeout + 1 - f seconds, f being the fraction of the second at the
  // start; a negative Timeout looks once.
  budget_end_ = settings_.timeout_seconds < 0
                    ? start_
                    : start_ + seconds(settings_.timeout_seconds + 1) - start_fraction_;

  env_.port.SetInputLen(0);
  if (!Settle()) return TimedOut(nullptr, false);

  line.unsettled_ = true;  // until an answer is accepted
  line.owed_wire_bytes_ = LongestAnswerOnWire();
  try {
    return SendAndWait();
  } catch (...) {
    // A port error: whatever the line still carries may be this request's answer.
    line.quiet_since_ = Now();
    throw;
  }
}

std::int16_t Exchange::SendAndWait() {
  SerialPort& port = env_.port;
  // The request's own wire time is added to the budget, so a long frame on a slow line
  // does not eat into the PLC's time to answer. A line held by flow control may use the
  // whole budget.
  const MonotonicTime deadline = budget_end_ + char_time_ * static_cast<std::int64_t>(frame_.size());
  port.Output(frame_);
  if (!port.Drain(std::max(deadline - Now(), nanoseconds(0)))) return TimedOut(nullptr, true);

  const std::size_t expected = ExpectedLength();
  AnswerReader reader(settings_.sum_check, std::max(expected + kAnswerSlack, request_image_size_));
  const MonotonicTime answer_deadline = settings_.timeout_seconds < 0 ? Now() : deadline;
  for (;;) {
    const nanoseconds left = std::max(answer_deadline - Now(), nanoseconds(0));
    std::vector<std::uint8_t> bytes = port.ReadArriving(BytesStillExpected(reader), left);
    const std::size_t at = received_.size();
    if (at == 0) {
      received_ = std::move(bytes);
    } else {
      received_.insert(received_.end(), bytes.begin(), bytes.end());
    }
    Feed(reader, std::span<const std::uint8_t>(received_).subspan(at));
    if (reader.complete()) return Judge(reader);
    if (Now() >= answer_deadline) return TimedOut(&reader, true);
  }
}

void Exchange::MarkStart() {
  start_ = Now();
  start_local_ = env_.clock.LocalNow();
  start_fraction_ = nanoseconds(start_local_.nanosecond);
}

nanoseconds Exchange::CharacterTime() const {
  LineState& line = env_.line;
  std::string settings = env_.port.Settings();
  if (line.character_time_ > nanoseconds(0) && settings == line.settings_) return line.character_time_;
  try {
    line.character_time_ = ParseLineSettings(settings).CharacterTime();
  } catch (const std::exception&) {
    // A settings text the port accepted but we cannot read: assume a slow line.
    line.character_time_ = ParseLineSettings("1200,n,8,1").CharacterTime();
  }
  line.settings_ = std::move(settings);
  return line.character_time_;
}

std::size_t Exchange::ExpectedLength() const {
  return static_cast<std::size_t>(plan_.answer_length_without_sum) + (settings_.sum_check ? 2 : 0);
}

// Every byte between DLE STX and DLE ETX doubled.
std::size_t Exchange::LongestAnswerOnWire() const {
  const auto body = static_cast<std::size_t>(std::max(plan_.answer_length_without_sum - 4, 0));
  return 4 + 2 * body + (settings_.sum_check ? 2 : 0);
}

// The request goes out at once unless the last exchange ended without an answer it
// accepted: then the line must first have been quiet for max(0.5 s, the longest wire
// time of the answer it owes at the current settings), counted from the later of the last
// byte seen and that exchange's end, so that answer is not taken for this one's. False
// when the budget ends first.
bool Exchange::Settle() {
  SerialPort& port = env_.port;
  LineState& line = env_.line;
  if (!line.unsettled_) {
    // Leftovers of an exchange whose answer was accepted: a repetition, trailing noise.
    port.Input();
    return true;
  }
  const nanoseconds quiet =
      std::max(kQuietFloor, char_time_ * static_cast<std::int64_t>(line.owed_wire_bytes_));
  for (;;) {
    const std::vector<std::uint8_t> bytes = port.Input();
    const MonotonicTime now = Now();
    if (!bytes.empty()) {
      // When bytes already waiting arrived is not known: as late as can be.
      received_.insert(received_.end(), bytes.begin(), bytes.end());
      line.quiet_since_ = now;
    }
    const MonotonicTime quiet_until = line.quiet_since_ + quiet;
    if (now >= quiet_until) return true;
    if (now >= budget_end_) return false;
    port.WaitForInput(std::min(quiet_until, budget_end_) - now);
  }
}

// A frame identical to the request just sent is the line's echo of it (two-wire RS-485,
// some converters): skipped, and the wait goes on. Bytes after the frame that is taken
// are left unread by the reader; they are in the received text all the same.
void Exchange::Feed(AnswerReader& reader, std::span<const std::uint8_t> bytes) {
  for (;;) {
    bytes = bytes.subspan(reader.Feed(bytes));
    if (!reader.complete() || !IsEcho(reader)) return;
    reader.Restart();
    if (bytes.empty()) return;
  }
}

bool Exchange::IsEcho(const AnswerReader& reader) {
  if (reader.image().size() != request_image_size_) return false;
  if (!request_image_) {
    AnswerReader own(settings_.sum_check, frame_.size());
    own.Feed(frame_);
    request_image_ = own.image();
  }
  return reader.image() == *request_image_;
}

// The fewest bytes that can still complete the answer: the smallest frame until its end
// code is in, the rest of the expected answer once a normal end code is, and no more
// than one byte for an error answer, whose length is not known in advance.
std::int32_t Exchange::BytesStillExpected(const AnswerReader& reader) const {
  const std::size_t trailer = settings_.sum_check ? 4 : 2;
  const std::size_t have = reader.image().size();
  std::size_t total = 0;
  if (have < 2 + kShortestBody) {
    total = 2 + kShortestBody + trailer;
  } else if (EndCode(reader.image()) == 0) {
    total = ExpectedLength();
  }
  return total > have ? static_cast<std::int32_t>(total - have) : 1;
}

std::int16_t Exchange::Judge(const AnswerReader& reader) {
  if (!reader.sum_check_passed()) return Refuse("SumCheck Error");
  const std::span<const std::uint8_t> body = reader.body();
  if (body.size() < kShortestBody) return Refuse("Answer Length Error");
  // With XON/XOFF the port swallows the 0x11 and 0x13 bytes of a binary answer: the
  // answer's own byte count tells a frame shortened that way (with the sum check on, the
  // sum has told already).
  const std::int32_t handshaking = env_.port.Handshaking();
  const std::size_t counted = static_cast<std::size_t>(body[0] | body[1] << 8);
  if ((handshaking == 1 || handshaking == 3) && counted != body.size() - 2) {
    return Refuse("Answer Length Error");
  }
  const std::int16_t end_code = EndCode(reader.image());
  if (end_code != 0) {
    TakeRest();
    const auto code = static_cast<std::uint16_t>(end_code);
    LogAnswerRecord(plan_.operation + " ErroCode=" + HexByte(static_cast<std::uint8_t>(code >> 8)) +
                    HexByte(static_cast<std::uint8_t>(code & 0xFF)));
    LeaveLine(true);
    return end_code;
  }
  if (reader.image().size() != ExpectedLength()) return Refuse("Answer Length Error");

  // The outcome is decided: nothing after this touches the port, so a port error cannot
  // follow the image's change. Bytes still arriving are dropped by the next call.
  LeaveLine(true);
  if (plan_.unpack) plan_.unpack(body.subspan(kShortestBody));
  return 0;
}

// Records first, the event last: a handler that closes the port or starts another call
// finds the record written and the line's state kept.
std::int16_t Exchange::TimedOut(const AnswerReader* reader, bool sent) {
  const auto elapsed = std::chrono::duration_cast<seconds>(Now() - start_ + start_fraction_).count();
  std::string event;
  if (!plan_.read_device_code) {
    event = "TimeOut";
  } else if (settings_.sum_check && reader != nullptr && reader->awaiting_sum_characters()) {
    event = "TimeOut, Maybe because Sumcheck not set in PLC ";
  } else {
    event = "TimeOut " + std::to_string(static_cast<std::int32_t>(elapsed)) + " Second";
  }
  if (sent) {
    // What the line has not sent yet must not go out once the call has given up.
    try {
      env_.port.DiscardOutput();
    } catch (const AutomationError& fault) {
      Keep(fault);
    }
    TakeRest();
  }
  Log({StartStamp() + plan_.timeout_log_text + RequestText()});
  if (sent) LeaveLine(false);
  env_.raise(event);
  return 1;
}

// A frame that arrived but cannot be trusted: recorded like an error answer, but the
// result is 1 and the line must settle before the next request.
std::int16_t Exchange::Refuse(const std::string& what) {
  TakeRest();
  LogAnswerRecord(plan_.operation + " " + what);
  LeaveLine(false);
  env_.raise(what);
  return 1;
}

// The input left after the frame, into the received text. A port error here comes after
// the outcome was decided: it is kept for the next call.
void Exchange::TakeRest() {
  try {
    const std::vector<std::uint8_t> bytes = env_.port.Input();
    received_.insert(received_.end(), bytes.begin(), bytes.end());
  } catch (const AutomationError& fault) {
    Keep(fault);
  }
}

void Exchange::Keep(const AutomationError& fault) {
  if (!env_.line.fault_) env_.line.fault_ = fault;
}

void Exchange::LeaveLine(bool settled) {
  env_.line.unsettled_ = !settled;
  env_.line.quiet_since_ = Now();
}

void Exchange::LogAnswerRecord(const std::string& message) {
  if (plan_.read_device_code) {
    Log({PadToPrintZone(StartStamp() + message + "DeviceCode = " + HexNumber(*plan_.read_device_code) +
                        RequestText()),
         "InBuffer = " + HexText(received_)});
  } else {
    Log({StartStamp() + message + RequestText()});
  }
}

void Exchange::Log(std::initializer_list<std::string_view> lines) {
  CommLog(env_.log_folder, env_.clock).Append(lines);
}

std::int16_t RunExchange(const LinkEnvironment& env, const ExchangeSettings& settings,
                         const ExchangePlan& plan) {
  return Exchange(env, settings, plan).Run();
}

}  // namespace kestova
