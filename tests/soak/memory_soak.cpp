// The time-out-heavy part of the soak: the control on the in-memory port, a virtual PLC
// station answering each frame, faults applied to the answers on the test clock, so a
// 3-second time-out costs no real time.

#include <cstdio>
#include <memory>

#include "sim/fault_scheduler.h"
#include "sim/frame_decoder.h"
#include "sim/station.h"
#include "soak.h"
#include "support/bytes.h"
#include "support/memory_port.h"
#include "support/test_host.h"

namespace kestova::soak {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

constexpr long kEpisodeCalls = 40;
constexpr long kFullImageCheckEvery = 250;
// The in-memory port's line, 9600,n,8,1: the link adds a request's wire time to the call's
// budget, and waits for a quiet line of 0.5 s or the owed answer's longest wire time.
constexpr nanoseconds kCharacter = 1041666ns;
constexpr auto kQuietFloor = 500ms;

class MemorySoak {
 public:
  MemorySoak(std::uint64_t seed, Tally& tally);
  void Run(long calls);

 private:
  void Answer(testing::MemoryPort& port, const std::vector<std::uint8_t>& frame);
  bool Settles(MonotonicTime start);

  Tally& tally_;
  std::mt19937_64 random_;
  testing::TestHost host_;
  testing::MemoryPort* port_ = nullptr;
  std::unique_ptr<Tarvane> control_;
  sim::Station station_;
  ImageShadow shadow_;
  LogTail log_;
  FaultRates rates_;
  bool sum_check_ = false;
  std::int16_t timeout_ = 3;
  // The call under way.
  InjectedFault fault_;
  Exchange exchange_;
  bool station_answered_ = false;
  MonotonicTime budget_end_{};  // Timeout + 1 s from the start, whole seconds (plus the request's wire time once sent)
  std::vector<std::uint8_t> carry_;
  std::optional<MonotonicTime> late_at_;  // this call's answer, delivered after its time-out
  std::vector<std::uint8_t> late_wire_;
  bool close_on_event_ = false;
  // What the link must wait for after a call that ended without an accepted answer: the
  // line quiet for `quiet` since `since` (the call's end, or the last byte seen later).
  struct Owed {
    MonotonicTime since;
    nanoseconds quiet;
    std::optional<MonotonicTime> late_at;
    std::vector<std::uint8_t> late_wire;
  };
  std::optional<Owed> owed_;
};

MemorySoak::MemorySoak(std::uint64_t seed, Tally& tally) : tally_(tally), random_(seed), log_(host_.log_folder) {
  auto port = std::make_unique<testing::MemoryPort>(host_);
  port_ = port.get();
  control_ = std::make_unique<Tarvane>(host_, std::move(port));
  control_->InitProperties();
  port_->SetResponder([this](testing::MemoryPort& p, const std::vector<std::uint8_t>& frame) { Answer(p, frame); });
  control_->SetPortOpen(true);
  host_.on_melsec_out = [this](const std::string&) {
    if (std::exchange(close_on_event_, false)) control_->SetPortOpen(false);
  };
  rates_.fill(3.0);
  rates_[static_cast<std::size_t>(FaultKind::WrongLength)] = 1.0;
}

// Whether the call starting now may send within its budget after a call that left the
// line unsettled, and which late bytes it discards first (into carry_).
bool MemorySoak::Settles(MonotonicTime start) {
  carry_.clear();
  if (!owed_) return true;
  MonotonicTime seen = owed_->since;
  if (owed_->late_at && *owed_->late_at < budget_end_) {
    // Already waiting (seen when the call starts), or arriving while it waits.
    seen = std::max(*owed_->late_at, start);
    carry_ = std::move(owed_->late_wire);
    owed_->late_at.reset();
  }
  owed_->since = seen;
  return seen + owed_->quiet <= budget_end_;
}

// The station's side of one exchange: decode, carry out, shape the answer by the fault
// and put it on the line at the moments the fault calls for.
void MemorySoak::Answer(testing::MemoryPort& port, const std::vector<std::uint8_t>& frame) {
  station_answered_ = false;
  exchange_.request_wire = frame;
  sim::FrameDecoder decoder(sum_check_);
  std::optional<sim::ReceivedRequest> request;
  for (std::uint8_t b : frame) {
    if (!request) request = decoder.Feed(b);
  }
  if (!request) request = decoder.ExpireSum();
  if (!request || !request->header_ok || !request->sum_ok) return;  // judged as a mismatch by the caller
  // The command is carried out even when its answer will be lost.
  const std::optional<sim::Answer> answer = fault_.kind == FaultKind::EndCode
                                                ? sim::Answer{request->routing, fault_.end_code, {}}
                                                : station_.Execute(*request);
  if (!answer) return;
  station_answered_ = true;
  exchange_.station_end_code = answer->end_code;
  exchange_.answer_frame = sim::EncodeAnswer(*answer, sum_check_);

  const FaultKind kind = fault_.kind;
  sim::AnswerPlan plan;
  plan.bad_sum = kind == FaultKind::BadSum;
  plan.echo = kind == FaultKind::Echo;
  plan.broken_frame = kind == FaultKind::BrokenFrame;
  if (kind == FaultKind::NoiseBefore) plan.noise_before = fault_.noise;
  if (kind == FaultKind::NoiseAfter) plan.noise_after = fault_.noise;
  plan.twice = kind == FaultKind::Twice;
  if (kind == FaultKind::Cut) plan.cut = fault_.cut_keep % exchange_.answer_frame.size();
  std::vector<std::uint8_t> wire = sim::ShapeAnswer(*answer, plan, sum_check_, frame);
  if (kind == FaultKind::WrongLength && fault_.no_end_code) {
    // A frame with a good sum that stops before the end code, as a garbled PLC might send.
    wire = testing::Framed({0x0A, 0x00, 0xF8, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0xFF, 0xFF}, sum_check_);
  } else if (kind == FaultKind::WrongLength) {
    // Two data bytes too few for a read, two too many for anything else.
    sim::Answer wrong = *answer;
    if (wrong.data.size() >= 2) {
      wrong.data.resize(wrong.data.size() - 2);
    } else {
      wrong.data = {0x12, 0x34};
    }
    wire = sim::EncodeAnswer(wrong, sum_check_);
  }

  // When the control gives up: the end of its budget plus the request's wire time.
  const nanoseconds until_deadline = budget_end_ + kCharacter * static_cast<long>(frame.size()) - host_.MonotonicNow();
  if (kind == FaultKind::NoAnswer || kind == FaultKind::LateDropped || kind == FaultKind::HandlerCloses) return;
  if (kind == FaultKind::LateInDrain || kind == FaultKind::LateAfterWindow) {
    // Inside the next call's quiet wait either way; past a 0.1 s window for the second.
    const auto after_deadline = kind == FaultKind::LateAfterWindow
                                    ? 150ms + std::chrono::milliseconds(static_cast<int>(300 * fault_.fraction))
                                    : 1ms + std::chrono::milliseconds(static_cast<int>(79 * fault_.fraction));
    port.Deliver(wire, until_deadline + after_deadline);
    late_at_ = host_.MonotonicNow() + until_deadline + after_deadline;
    late_wire_ = wire;
    return;
  }
  if (kind == FaultKind::Trickle) {
    auto gap = nanoseconds(std::chrono::milliseconds(std::uniform_int_distribution<int>(1, 20)(random_)));
    gap = std::max(nanoseconds(0), std::min(gap, (until_deadline - 1ms) / static_cast<long>(wire.size())));
    for (std::size_t i = 0; i < wire.size(); ++i) port.Deliver({wire[i]}, gap * static_cast<long>(i));
  } else {
    port.Deliver(wire);
  }
  exchange_.delivered = wire;
}

void MemorySoak::Run(long calls) {
  for (long n = 0; n < calls; ++n) {
    if (n % kEpisodeCalls == 0) {
      sum_check_ = std::uniform_int_distribution<int>(0, 1)(random_) == 1;
      timeout_ = static_cast<std::int16_t>(std::uniform_int_distribution<int>(0, 3)(random_));
      control_->SetSumCheck(sum_check_);
      control_->SetTimeout(timeout_);
      station_.set_sum_check(sum_check_);
    }
    // Idle time between calls moves the start across the second, and lets late answers land.
    host_.Advance(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 1500)(random_)));

    const Operation op = RandomOperation(random_, /*small=*/false);
    fault_ = RandomFault(random_, rates_);
    const long call = ++tally_.calls;
    if (fault_.kind != FaultKind::None) ++tally_.faults[static_cast<std::size_t>(fault_.kind)];

    const MonotonicTime started = host_.MonotonicNow();
    const LocalDateTime t = host_.LocalNow();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    budget_end_ = started + std::chrono::seconds(timeout_ + 1) - nanoseconds(t.nanosecond);
    exchange_ = {};
    late_at_.reset();
    late_wire_.clear();
    exchange_.sent = Settles(started);
    const MonotonicTime sent_at = owed_ ? std::max(started, owed_->since + owed_->quiet) : started;
    // Held for up to twice the budget: it goes out once the line takes it, or never.
    const auto held = std::chrono::duration_cast<nanoseconds>(std::chrono::seconds(2 * (timeout_ + 1)) *
                                                              (fault_.kind == FaultKind::Held ? fault_.fraction : 0.0));
    port_->SetTransmitTime(held);
    close_on_event_ = fault_.kind == FaultKind::HandlerCloses;

    const std::size_t events_before = host_.events.size();
    const std::size_t outputs_before = port_->outputs().size();
    Observed observed;
    try {
      observed.result = Invoke(*control_, op);
    } catch (const std::exception& e) {
      observed.error = e.what();
    }
    const auto took = host_.MonotonicNow() - started;
    port_->SetTransmitTime({});
    close_on_event_ = false;
    if (!control_->PortOpen()) control_->SetPortOpen(true);
    observed.events.assign(host_.events.begin() + static_cast<std::ptrdiff_t>(events_before), host_.events.end());
    observed.log_lines = log_.NewLines();
    tally_.records_checked += static_cast<long>(observed.log_lines.size());

    const std::string what = op.Describe() + " [" + FaultName(fault_.kind) + (sum_check_ ? ", sum check" : "") +
                             ", Timeout " + std::to_string(timeout_) + "]: ";
    const bool output = port_->outputs().size() > outputs_before;
    if (output != exchange_.sent) {
      tally_.Mismatch(call, what + (output ? "sent before the line had been quiet long enough" : "sent nothing"));
      continue;
    }
    const auto wire_time = output ? kCharacter * static_cast<long>(port_->outputs().back().size()) : 0ns;
    InjectedFault expected_fault = fault_;
    if (fault_.kind == FaultKind::Held) {
      if (held <= budget_end_ + wire_time - sent_at) expected_fault.kind = FaultKind::None;
      exchange_.request_wire = port_->outputs().back();
    }
    if (exchange_.sent && expected_fault.kind != FaultKind::Held && !station_answered_) {
      tally_.Mismatch(call, what + "the station could not read the request " + HexOf(exchange_.request_wire));
      continue;
    }
    exchange_.carried = carry_;
    const Expectation expected = Expect(op, expected_fault, exchange_, sum_check_, timeout_);
    for (const auto& difference : Compare(expected, observed, stamp)) tally_.Mismatch(call, what + difference);
    if (took > budget_end_ - started + wire_time) {
      tally_.Mismatch(call, what + "took " + std::to_string(took / 1ms) + " ms");
    }
    // What the link now owes the line; nothing sent: still the earlier call's answer.
    if (exchange_.sent && expected.unsettled) {
      // Its longest answer: every byte between DLE STX and DLE ETX doubled.
      const std::size_t longest = 4 + 2 * (14 + (op.is_read() ? 2 * static_cast<std::size_t>(op.points) : 0)) + (sum_check_ ? 2 : 0);
      owed_ = Owed{host_.MonotonicNow(), std::max<nanoseconds>(kQuietFloor, kCharacter * static_cast<long>(longest)),
                   late_at_, late_wire_};
    } else if (exchange_.sent) {
      owed_.reset();
    }
    if (op.is_read()) {
      if (const int wrong = shadow_.CheckRead(*control_, observed.result == 0 ? &station_.memory() : nullptr, op)) {
        tally_.Mismatch(call, what + std::to_string(wrong) + " image elements differ");
      }
    }
    if (const int wrong = call % kFullImageCheckEvery == 0 ? shadow_.CheckAll(*control_) : 0) {
      tally_.Mismatch(call, what + std::to_string(wrong) + " image elements differ from what reads brought");
    }
  }
  if (const int wrong = shadow_.CheckAll(*control_)) {
    tally_.Mismatch(tally_.calls, std::to_string(wrong) + " image elements differ at the end");
  }
}

}  // namespace

void RunMemorySoak(std::uint64_t seed, Tally& tally, long calls) { MemorySoak(seed, tally).Run(calls); }

}  // namespace kestova::soak
