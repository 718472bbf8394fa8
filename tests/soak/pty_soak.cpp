#include "pty_soak.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "link/serial_posix.h"
#include "sim/fault.h"

namespace kestova::soak {
namespace {

using namespace std::chrono_literals;
using RealClock = std::chrono::steady_clock;

constexpr long kEpisodeCalls = 25;
// How long any answer may take to be written by the PLC's thread.
constexpr auto kAnswerWait = 5000ms;
constexpr auto kTrickleGap = 1ms;
// A call that starts this close to a second boundary may time out with Timeout 0 before
// even a prompt answer is in: that is the time-out arithmetic, not a fault.
constexpr auto kBoundaryRoom = 150ms;
constexpr auto kCallMargin = 400ms;
// The control's line, 9600,n,8,1: a request's wire time is added to the call's budget;
// the longest request here (a 20-word block write, DLEs doubled) takes under 120 ms.
constexpr std::chrono::nanoseconds kCharacter = 1041666ns;
constexpr auto kLongestRequest = 120ms;

std::chrono::nanoseconds IntoSecond() {
  const auto wall = std::chrono::system_clock::now().time_since_epoch();
  return wall - std::chrono::duration_cast<std::chrono::seconds>(wall);
}

std::filesystem::path FreshFolder() {
  auto folder = std::filesystem::temp_directory_path() / ("kestova-soak-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

const std::array<std::uint8_t, 7> kDefaultRouting{0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00};

}  // namespace

PtySoak::PtySoak(std::uint64_t seed, Tally& tally)
    : tally_(tally), random_(seed), log_folder_(FreshFolder()), log_(log_folder_) {
  const std::string path = plc_.Start();
  host_.SetLogFolder(log_folder_);
  host_.AddMelsecOutHandler([this](std::string& text) {
    events_.push_back(text);
    if (std::exchange(close_on_event_, false)) control_->SetPortOpen(false);
  });
  control_ = std::make_unique<Tarvane>(host_, std::make_unique<PosixSerialPort>(path));
  control_->InitProperties();
  control_->SetTimeout(0);
  control_->SetPortOpen(true);
  // Faults that cost a real time-out are rare here; the rest as often as on the memory port.
  for (int k = 1; k < kFaultKindCount; ++k) rates_.percent[static_cast<std::size_t>(k)] = 3.0;
  // The virtual PLC has no fault for a frame of the wrong length; the memory part has.
  rates_.percent[static_cast<std::size_t>(FaultKind::WrongLength)] = 0.0;
  // A pseudo-terminal has no flow control to hold.
  rates_.percent[static_cast<std::size_t>(FaultKind::Held)] = 0.0;
  for (FaultKind slow : {FaultKind::LateInDrain, FaultKind::LateDropped, FaultKind::NoAnswer, FaultKind::Cut,
                         FaultKind::LateAfterWindow, FaultKind::HandlerCloses}) {
    rates_.percent[static_cast<std::size_t>(slow)] = 0.4;
  }
}

PtySoak::~PtySoak() {
  control_.reset();
  plc_.Stop();
  std::error_code ec;
  std::filesystem::remove_all(log_folder_, ec);
}

bool PtySoak::Inject(const InjectedFault& fault, std::chrono::nanoseconds into_second) {
  using sim::Fault;
  // The control gives up at the end of the second it began in (Timeout 0), plus its
  // request's wire time; a late answer is aimed past that.
  const auto gives_up = 1s - into_second + kLongestRequest;
  const auto after = [&](std::chrono::milliseconds past) {
    return std::chrono::ceil<std::chrono::milliseconds>(gives_up + past);
  };
  switch (fault.kind) {
    case FaultKind::None: return true;
    case FaultKind::LateInDrain: plc_.InjectFault(Fault::Delay(after(40ms), true), 1); return false;
    case FaultKind::LateAfterWindow: plc_.InjectFault(Fault::Delay(after(250ms), true), 1); return false;
    case FaultKind::LateDropped: plc_.InjectFault(Fault::Delay(2500ms), 1); return false;
    case FaultKind::NoAnswer:
    case FaultKind::HandlerCloses: plc_.InjectFault(Fault::NoAnswer(), 1); return false;
    case FaultKind::Cut:  // cut to nothing, it is no answer at all
      plc_.InjectFault(Fault::Cut(fault.cut_keep % 18), 1);
      return fault.cut_keep % 18 != 0;
    case FaultKind::BadSum: plc_.InjectFault(Fault::BadSum(), 1); return true;
    case FaultKind::NoiseBefore: plc_.InjectFault(Fault::NoiseBefore(fault.noise), 1); return true;
    case FaultKind::NoiseAfter: plc_.InjectFault(Fault::NoiseAfter(fault.noise), 1); return true;
    case FaultKind::Twice: plc_.InjectFault(Fault::AnswerTwice(), 1); return true;
    case FaultKind::EndCode: plc_.InjectFault(Fault::ForcedEndCode(fault.end_code), 1); return true;
    case FaultKind::Trickle: plc_.InjectFault(Fault::Trickle(kTrickleGap), 1); return true;
    case FaultKind::Echo: plc_.InjectFault(Fault::Echo(), 1); return true;
    case FaultKind::BrokenFrame: plc_.InjectFault(Fault::BrokenFrame(), 1); return true;
    case FaultKind::WrongLength:
    case FaultKind::Held: return true;
  }
  return true;
}

// The answer the PLC put on the line, rebuilt from what it holds now (a read changes
// nothing, so its memory is still what it answered from).
Exchange PtySoak::Reconstruct(const Operation& op, const InjectedFault& fault, sim::CpuState before) {
  Exchange exchange;
  const auto requests = plc_.requests();
  if (!requests.empty()) exchange.request_wire = requests.back().raw;
  if (fault.kind == FaultKind::EndCode) {
    exchange.station_end_code = fault.end_code;
  } else if (op.kind == Operation::Kind::RemoteReset && before == sim::CpuState::Run) {
    exchange.station_end_code = sim::end_code::kResetWhileRunning;
  }
  sim::Answer answer{kDefaultRouting, exchange.station_end_code, {}};
  if (op.is_read() && exchange.station_end_code == 0) {
    for (std::uint16_t word : plc_.memory().ReadWords(StationFamily(op.family), op.address, op.points)) {
      answer.data.push_back(static_cast<std::uint8_t>(word & 0xFF));
      answer.data.push_back(static_cast<std::uint8_t>(word >> 8));
    }
  }
  exchange.answer_frame = sim::EncodeAnswer(answer, sum_check_);
  exchange.delivered = sim::EncodeAnswer(answer, sum_check_, fault.kind == FaultKind::BadSum);
  if (fault.kind == FaultKind::Cut) exchange.delivered.resize(std::min(exchange.delivered.size(), fault.cut_keep % 18));
  return exchange;
}

void PtySoak::Run(long calls) {
  for (long n = 0; n < calls; ++n) {
    if (n % kEpisodeCalls == 0) {
      sum_check_ = std::uniform_int_distribution<int>(0, 1)(random_) == 1;
      control_->SetSumCheck(sum_check_);
      plc_.set_sum_check(sum_check_);
    }
    const Operation op = RandomOperation(random_, /*small=*/true);
    const InjectedFault fault = RandomFault(random_, rates_);
    const long call = ++tally_.calls;
    ++tally_.pty_calls;
    if (fault.kind != FaultKind::None) ++tally_.faults[static_cast<std::size_t>(fault.kind)];

    // How far into its second the call starts, to tell a time-out of the arithmetic
    // (Timeout 0 ends at the next second boundary) from one of the line.
    const auto into_second = IntoSecond();
    const bool answers = Inject(fault, into_second);
    const sim::CpuState cpu_before = plc_.cpu_state();
    plc_.ClearRequests();
    events_.clear();
    close_on_event_ = fault.kind == FaultKind::HandlerCloses;

    const auto started = RealClock::now();
    Observed observed;
    try {
      observed.result = Invoke(*control_, op);
    } catch (const std::exception& e) {
      observed.error = e.what();
    }
    const auto took = RealClock::now() - started;
    close_on_event_ = false;
    if (!control_->PortOpen()) control_->SetPortOpen(true);
    tally_.longest_pty_call = std::max(tally_.longest_pty_call, std::chrono::nanoseconds(took));
    observed.events = events_;
    observed.log_lines = log_.NewLines();
    tally_.records_checked += static_cast<long>(observed.log_lines.size());

    const std::string what = op.Describe() + " [pty, " + FaultName(fault.kind) + (sum_check_ ? ", sum check" : "") + "]: ";
    // Let the PLC finish writing what it was sending (a duplicate, trailing noise, the
    // rest of a trickle) so the next call meets a quiet line, as it would in a real plant.
    if (answers) {
      ++answers_expected_;
      if (!plc_.WaitForAnswers(answers_expected_, kAnswerWait)) {
        tally_.Mismatch(call, what + "the virtual PLC did not finish its answer");
      }
    }

    Exchange exchange = Reconstruct(op, fault, cpu_before);
    exchange.carried = std::move(carry_);
    carry_.clear();
    Expectation expected = Expect(op, fault, exchange, sum_check_, 0);
    std::vector<std::string> differences = Compare(expected, observed, "");

    // A prompt answer can miss a deadline that fell a few milliseconds after the start.
    const auto trickle_time = fault.kind == FaultKind::Trickle ? kTrickleGap * static_cast<long>(exchange.delivered.size()) : 0ms;
    const bool near_boundary = into_second > 1s - kBoundaryRoom - trickle_time;
    if (!differences.empty() && near_boundary && observed.result == 1 && !expected.timed_out) {
      Expectation boundary = expected;
      boundary.result = 1;
      boundary.log_lines = {op.timeout_text() + HexOf(exchange.request_wire)};
      boundary.event = op.is_read() ? (observed.events.size() == 1 ? observed.events[0] : "") : "TimeOut";
      const bool a_timeout_event = !boundary.event->empty() && boundary.event->rfind("TimeOut", 0) == 0;
      if (a_timeout_event && Compare(boundary, observed, "").empty()) {
        ++tally_.boundary_timeouts;
        differences.clear();
      }
    }
    for (const auto& difference : differences) tally_.Mismatch(call, what + difference);
    if (fault.kind == FaultKind::LateInDrain || fault.kind == FaultKind::LateAfterWindow) {
      if (!plc_.WaitForAnswers(++answers_expected_, kAnswerWait)) {
        tally_.Mismatch(call, what + "the virtual PLC did not send its late answer");
      }
      carry_ = exchange.answer_frame;
    }
    // After a call without an accepted answer the next one first waits for a quiet line
    // (0.5 s): start it early in a second, so its Timeout 0 leaves room for that.
    if (expected.unsettled && IntoSecond() > 100ms) std::this_thread::sleep_for(1s - IntoSecond() + 5ms);
    if (took > 1s + kCharacter * static_cast<long>(exchange.request_wire.size()) + kCallMargin) {
      tally_.Mismatch(call, what + "took " + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) + " ms");
    }
    if (op.is_read()) {
      const int wrong = observed.result == 0 ? shadow_.TakeRead(*control_, plc_.memory(), op)
                                             : shadow_.CheckUntouched(*control_, op);
      if (wrong != 0) tally_.Mismatch(call, what + std::to_string(wrong) + " image elements differ");
    }
  }
  if (const int wrong = shadow_.CheckAll(*control_); wrong != 0) {
    tally_.Mismatch(tally_.calls, std::to_string(wrong) + " image elements differ at the end of the pty part");
  }
}

}  // namespace kestova::soak
