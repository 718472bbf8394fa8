#include "memory_soak.h"

#include <cstdio>

#include "link/automation_error.h"
#include "sim/fault_scheduler.h"
#include "sim/frame_decoder.h"

namespace kestova::soak {
namespace {

using namespace std::chrono_literals;

constexpr long kEpisodeCalls = 40;
constexpr long kFullImageCheckEvery = 250;
// The in-memory port's line, 9600,n,8,1: the link adds a request's wire time to the call's
// budget, and waits for a quiet line of 0.5 s or the owed answer's longest wire time.
constexpr std::chrono::nanoseconds kCharacter = 1041666ns;
constexpr auto kQuietFloor = 500ms;

// Every byte of the answer between DLE STX and DLE ETX doubled.
std::size_t LongestAnswerOnWire(const Operation& op, bool sum_check) {
  const std::size_t body = 14 + (op.is_read() ? 2 * static_cast<std::size_t>(op.points) : 0);
  return 4 + 2 * body + (sum_check ? 2 : 0);
}

std::string Stamp(const LocalDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

}  // namespace

MemorySoak::MemorySoak(std::uint64_t seed, Tally& tally)
    : tally_(tally), random_(seed), log_(host_.log_folder) {
  auto port = std::make_unique<testing::MemoryPort>(host_);
  port_ = port.get();
  control_ = std::make_unique<Tarvane>(host_, std::move(port));
  control_->InitProperties();
  port_->SetResponder([this](testing::MemoryPort& p, const std::vector<std::uint8_t>& frame) { Answer(p, frame); });
  control_->SetPortOpen(true);
  host_.on_melsec_out = [this](const std::string&) {
    if (std::exchange(close_on_event_, false)) control_->SetPortOpen(false);
  };
  // A few percent of each fault.
  for (int k = 1; k < kFaultKindCount; ++k) rates_.percent[static_cast<std::size_t>(k)] = 3.0;
  rates_.percent[static_cast<std::size_t>(FaultKind::WrongLength)] = 1.0;
}

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

void MemorySoak::NewEpisode() {
  sum_check_ = std::uniform_int_distribution<int>(0, 1)(random_) == 1;
  timeout_ = static_cast<std::int16_t>(std::uniform_int_distribution<int>(0, 3)(random_));
  control_->SetSumCheck(sum_check_);
  control_->SetTimeout(timeout_);
  station_.set_sum_check(sum_check_);
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

  std::optional<sim::Answer> answer;
  if (fault_.kind == FaultKind::EndCode) {
    answer = sim::Answer{request->routing, fault_.end_code, {}};
  } else {
    // The command is carried out even when its answer will be lost.
    answer = station_.Execute(*request);
  }
  if (!answer) return;
  station_answered_ = true;
  exchange_.station_end_code = answer->end_code;
  exchange_.answer_frame = sim::EncodeAnswer(*answer, sum_check_);

  sim::AnswerPlan plan;
  plan.bad_sum = fault_.kind == FaultKind::BadSum;
  plan.echo = fault_.kind == FaultKind::Echo;
  plan.broken_frame = fault_.kind == FaultKind::BrokenFrame;
  if (fault_.kind == FaultKind::NoiseBefore) plan.noise_before = fault_.noise;
  if (fault_.kind == FaultKind::NoiseAfter) plan.noise_after = fault_.noise;
  plan.twice = fault_.kind == FaultKind::Twice;
  if (fault_.kind == FaultKind::Cut) plan.cut = fault_.cut_keep % exchange_.answer_frame.size();
  std::vector<std::uint8_t> wire = sim::ShapeAnswer(*answer, plan, sum_check_, frame);
  if (fault_.kind == FaultKind::WrongLength) {
    if (fault_.no_end_code) {
      wire = FrameWithoutEndCode(sum_check_);
    } else {
      // Two data bytes too few for a read, two too many for anything else.
      sim::Answer wrong = *answer;
      if (wrong.data.size() >= 2) {
        wrong.data.resize(wrong.data.size() - 2);
      } else {
        wrong.data = {0x12, 0x34};
      }
      wire = sim::EncodeAnswer(wrong, sum_check_);
    }
  }

  // When the control gives up: the end of its budget plus the request's wire time.
  const std::chrono::nanoseconds until_deadline =
      budget_end_ + kCharacter * static_cast<long>(frame.size()) - host_.MonotonicNow();
  switch (fault_.kind) {
    case FaultKind::NoAnswer:
    case FaultKind::LateDropped:
    case FaultKind::HandlerCloses:
      break;
    case FaultKind::LateInDrain:
    case FaultKind::LateAfterWindow: {
      // Inside the next call's quiet wait either way; past a 0.1 s window for the second.
      const bool past_window = fault_.kind == FaultKind::LateAfterWindow;
      const auto after_deadline = past_window ? 150ms + std::chrono::milliseconds(static_cast<int>(300 * fault_.fraction))
                                              : 1ms + std::chrono::milliseconds(static_cast<int>(79 * fault_.fraction));
      port.Deliver(wire, until_deadline + after_deadline);
      late_at_ = host_.MonotonicNow() + until_deadline + after_deadline;
      late_wire_ = wire;
      break;
    }
    case FaultKind::Trickle: {
      const auto room = until_deadline - 1ms;
      auto gap = std::chrono::nanoseconds(std::chrono::milliseconds(std::uniform_int_distribution<int>(1, 20)(random_)));
      gap = std::max(std::chrono::nanoseconds(0), std::min(gap, room / static_cast<long>(wire.size())));
      for (std::size_t i = 0; i < wire.size(); ++i) port.Deliver({wire[i]}, gap * static_cast<long>(i));
      exchange_.delivered = wire;
      break;
    }
    default:
      port.Deliver(wire);
      exchange_.delivered = wire;
      break;
  }
}

void MemorySoak::Run(long calls) {
  for (long n = 0; n < calls; ++n) {
    if (n % kEpisodeCalls == 0) NewEpisode();
    // Idle time between calls moves the start across the second, and lets late answers land.
    host_.Advance(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 1500)(random_)));

    const Operation op = RandomOperation(random_, /*small=*/false);
    fault_ = RandomFault(random_, rates_);
    const long call = ++tally_.calls;
    if (fault_.kind != FaultKind::None) ++tally_.faults[static_cast<std::size_t>(fault_.kind)];

    const MonotonicTime started = host_.MonotonicNow();
    const LocalDateTime local = host_.LocalNow();
    stamp_ = Stamp(local);
    budget_end_ = started + std::chrono::seconds(timeout_ + 1) - std::chrono::nanoseconds(local.nanosecond);
    exchange_ = {};
    late_at_.reset();
    late_wire_.clear();
    exchange_.sent = Settles(started);
    const MonotonicTime sent_at = owed_ ? std::max(started, owed_->since + owed_->quiet) : started;
    // Held for up to twice the budget: it goes out once the line takes it, or never.
    const auto held = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::seconds(2 * (timeout_ + 1)) * (fault_.kind == FaultKind::Held ? fault_.fraction : 0.0));
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
    tally_.longest_call = std::max(tally_.longest_call, std::chrono::nanoseconds(took));
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
    for (const auto& difference : Compare(expected, observed, stamp_)) tally_.Mismatch(call, what + difference);
    if (took > budget_end_ - started + wire_time) {
      tally_.Mismatch(call, what + "took " + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) + " ms");
    }
    // What the link now owes the line.
    if (!exchange_.sent) {
      // Nothing sent: the answer owed is still the earlier call's.
    } else if (expected.unsettled) {
      owed_ = Owed{host_.MonotonicNow(),
                   std::max<std::chrono::nanoseconds>(kQuietFloor, kCharacter * static_cast<long>(LongestAnswerOnWire(op, sum_check_))),
                   late_at_, late_wire_};
    } else {
      owed_.reset();
    }
    if (op.is_read()) {
      const int wrong = observed.result == 0 ? shadow_.TakeRead(*control_, station_.memory(), op)
                                             : shadow_.CheckUntouched(*control_, op);
      if (wrong != 0) tally_.Mismatch(call, what + std::to_string(wrong) + " image elements differ");
    }
    if (call % kFullImageCheckEvery == 0) {
      if (const int wrong = shadow_.CheckAll(*control_); wrong != 0) {
        tally_.Mismatch(call, what + std::to_string(wrong) + " image elements differ from what reads brought");
      }
    }
  }
  if (const int wrong = shadow_.CheckAll(*control_); wrong != 0) {
    tally_.Mismatch(tally_.calls, std::to_string(wrong) + " image elements differ at the end");
  }
}

}  // namespace kestova::soak
