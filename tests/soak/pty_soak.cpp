// The real-line part of the soak: the control on the POSIX port, the virtual PLC on the
// other end of a pseudo-terminal, faults injected in the PLC one request at a time.
// Timeout 0 and few real time-outs keep it short.

#include <unistd.h>

#include <memory>
#include <thread>

#include "control/plain_host.h"
#include "link/serial_posix.h"
#include "sim/fault.h"
#include "sim/virtual_plc.h"
#include "soak.h"

namespace kestova::soak {
namespace {

using namespace std::chrono_literals;
using RealClock = std::chrono::steady_clock;

constexpr long kEpisodeCalls = 25;
constexpr auto kAnswerWait = 5000ms;  // how long any answer may take to be written by the PLC's thread
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

class PtySoak {
 public:
  PtySoak(std::uint64_t seed, Tally& tally);
  ~PtySoak();
  void Run(long calls);

 private:
  bool Inject(const InjectedFault& fault, std::chrono::nanoseconds into_second);
  Exchange Reconstruct(const Operation& op, const InjectedFault& fault, sim::CpuState before);

  Tally& tally_;
  std::mt19937_64 random_;
  std::filesystem::path log_folder_ = std::filesystem::temp_directory_path() / ("kestova-soak-" + std::to_string(::getpid()));
  sim::VirtualPlc plc_;
  PlainHost host_;
  std::unique_ptr<Tarvane> control_;
  ImageShadow shadow_;
  LogTail log_{log_folder_};
  FaultRates rates_;
  std::vector<std::string> events_;
  bool sum_check_ = false;
  std::size_t answers_expected_ = 0;
  bool close_on_event_ = false;
  std::vector<std::uint8_t> carry_;  // a late answer that the next call discards before it sends
};

PtySoak::PtySoak(std::uint64_t seed, Tally& tally) : tally_(tally), random_(seed) {
  std::filesystem::remove_all(log_folder_);
  std::filesystem::create_directories(log_folder_);
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
  // Faults that cost a real time-out are rare here. The virtual PLC sends no frame of the
  // wrong length, and a pseudo-terminal has no flow control to hold.
  rates_.fill(3.0);
  rates_[static_cast<std::size_t>(FaultKind::WrongLength)] = rates_[static_cast<std::size_t>(FaultKind::Held)] = 0.0;
  for (FaultKind slow : {FaultKind::LateInDrain, FaultKind::LateDropped, FaultKind::NoAnswer, FaultKind::Cut,
                         FaultKind::LateAfterWindow, FaultKind::HandlerCloses}) {
    rates_[static_cast<std::size_t>(slow)] = 0.4;
  }
}

PtySoak::~PtySoak() {
  control_.reset();
  plc_.Stop();
  std::error_code ec;
  std::filesystem::remove_all(log_folder_, ec);
}

// Puts the fault in the PLC for the next request, `into_second` after a wall-clock second
// began; false when it brings no answer.
bool PtySoak::Inject(const InjectedFault& fault, std::chrono::nanoseconds into_second) {
  using sim::Fault;
  // The control gives up at the end of the second it began in (Timeout 0), plus its
  // request's wire time; a late answer is aimed past that.
  const auto after = [&](std::chrono::milliseconds past) {
    return std::chrono::ceil<std::chrono::milliseconds>(1s - into_second + kLongestRequest + past);
  };
  const auto inject = [&](const Fault& f, bool answers) {
    plc_.InjectFault(f, 1);
    return answers;
  };
  switch (fault.kind) {
    case FaultKind::LateInDrain: return inject(Fault::Delay(after(40ms), true), false);
    case FaultKind::LateAfterWindow: return inject(Fault::Delay(after(250ms), true), false);
    case FaultKind::LateDropped: return inject(Fault::Delay(2500ms), false);
    case FaultKind::NoAnswer:
    case FaultKind::HandlerCloses: return inject(Fault::NoAnswer(), false);
    case FaultKind::Cut: return inject(Fault::Cut(fault.cut_keep % 18), fault.cut_keep % 18 != 0);  // to nothing: no answer
    case FaultKind::BadSum: return inject(Fault::BadSum(), true);
    case FaultKind::NoiseBefore: return inject(Fault::NoiseBefore(fault.noise), true);
    case FaultKind::NoiseAfter: return inject(Fault::NoiseAfter(fault.noise), true);
    case FaultKind::Twice: return inject(Fault::AnswerTwice(), true);
    case FaultKind::EndCode: return inject(Fault::ForcedEndCode(fault.end_code), true);
    case FaultKind::Trickle: return inject(Fault::Trickle(kTrickleGap), true);
    case FaultKind::Echo: return inject(Fault::Echo(), true);
    case FaultKind::BrokenFrame: return inject(Fault::BrokenFrame(), true);
    default: return true;
  }
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
  sim::Answer answer{{0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00}, exchange.station_end_code, {}};
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
    observed.events = events_;
    observed.log_lines = log_.NewLines();
    tally_.records_checked += static_cast<long>(observed.log_lines.size());

    const std::string what = op.Describe() + " [pty, " + FaultName(fault.kind) + (sum_check_ ? ", sum check" : "") + "]: ";
    // Let the PLC finish writing what it was sending (a duplicate, trailing noise, the
    // rest of a trickle) so the next call meets a quiet line, as it would in a real plant.
    if (answers && !plc_.WaitForAnswers(++answers_expected_, kAnswerWait)) {
      tally_.Mismatch(call, what + "the virtual PLC did not finish its answer");
    }
    Exchange exchange = Reconstruct(op, fault, cpu_before);
    exchange.carried = std::exchange(carry_, {});
    const Expectation expected = Expect(op, fault, exchange, sum_check_, 0);
    std::vector<std::string> differences = Compare(expected, observed, "");

    // A prompt answer can miss a deadline that fell a few milliseconds after the start.
    const auto trickle_time = fault.kind == FaultKind::Trickle ? kTrickleGap * static_cast<long>(exchange.delivered.size()) : 0ms;
    if (!differences.empty() && into_second > 1s - kBoundaryRoom - trickle_time && observed.result == 1 && !expected.timed_out) {
      Expectation boundary = expected;
      boundary.log_lines = {op.timeout_text() + HexOf(exchange.request_wire)};
      boundary.event = op.is_read() ? (observed.events.size() == 1 ? observed.events[0] : "") : "TimeOut";
      boundary.result = 1;
      if (boundary.event->starts_with("TimeOut") && Compare(boundary, observed, "").empty()) differences.clear();
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
      tally_.Mismatch(call, what + "took " + std::to_string(took / 1ms) + " ms");
    }
    if (op.is_read()) {
      if (const int wrong = shadow_.CheckRead(*control_, observed.result == 0 ? &plc_.memory() : nullptr, op)) {
        tally_.Mismatch(call, what + std::to_string(wrong) + " image elements differ");
      }
    }
  }
  if (const int wrong = shadow_.CheckAll(*control_)) {
    tally_.Mismatch(tally_.calls, std::to_string(wrong) + " image elements differ at the end of the pty part");
  }
}

}  // namespace

void RunPtySoak(std::uint64_t seed, Tally& tally, long calls) { PtySoak(seed, tally).Run(calls); }

}  // namespace kestova::soak
