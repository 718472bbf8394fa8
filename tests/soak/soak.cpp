// kestova-soak [calls] [--seed N]: calls of every operation against the virtual PLC with a few
// percent of each fault injected, every result, event, log record and image element checked;
// seeded. 90 % run on the in-memory port with the test clock, the rest over a pseudo-terminal
// in real time with Timeout 0. Exits 1 when any call did not end as its fault calls for.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/serial_posix.h"
#include "sim/device_memory.h"
#include "sim/fault.h"
#include "sim/fault_scheduler.h"
#include "sim/frame_decoder.h"
#include "sim/station.h"
#include "sim/virtual_plc.h"
#include "support/bytes.h"
#include "support/memory_port.h"
#include "support/test_host.h"

namespace kestova::soak {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

// One call of a public operation, with arguments the control accepts, so it reaches the line.
struct Operation {
  enum class Kind { Read, WordWrite, BitWrite, BlockWrite, RemoteRun, RemoteStop, RemoteReset };
  Kind kind = Kind::Read;
  DeviceFamily family = DeviceFamily::D;
  std::int32_t address = 0;
  std::int16_t points = 1, value = 0, clear_mode = 0;  // words read or written, word write, remote run
  bool on = false;                                      // bit write
  std::string device_text;                              // block write
  std::vector<std::int16_t> data;

  bool is_read() const { return kind == Kind::Read; }
};

inline sim::Family StationFamily(DeviceFamily f) { return static_cast<sim::Family>(static_cast<int>(f)); }

// LateInDrain: answer up to 80 ms after the time-out, seen by the next call before it sends.
// LateDropped: after the time-out, dropped by the station for the next request.
// WrongLength: a well-formed frame of the wrong length (in-memory port only).
// Echo: the request's own bytes before the answer.
// LateAfterWindow: answer 0.15 to 0.45 s after the time-out, past a 0.1 s quiet window.
// BrokenFrame: a frame broken off mid-data, holding 10 10 02 and a false answer.
// Held: flow control holds the request up to twice the budget (in-memory port only).
// HandlerCloses: no answer, and the MelsecOut handler closes the port.
enum class FaultKind { None, LateInDrain, LateDropped, NoAnswer, Cut, BadSum, NoiseBefore, NoiseAfter, Twice, EndCode,
                       Trickle, WrongLength, Echo, LateAfterWindow, BrokenFrame, Held, HandlerCloses };
constexpr int kFaultKindCount = 17;
constexpr const char* kFaultNames[kFaultKindCount] = {
    "none", "late", "late_dropped", "no_answer", "cut", "bad_sum", "noise_before", "noise_after", "twice", "end_code",
    "trickle", "wrong_length", "echo", "late_after_window", "broken_frame", "held", "handler_closes"};

struct InjectedFault {
  FaultKind kind = FaultKind::None;
  std::size_t cut_keep = 0;         // Cut: bytes of the answer kept, modulo its length
  std::vector<std::uint8_t> noise;  // NoiseBefore / NoiseAfter, never holding a DLE
  std::uint16_t end_code = 0;       // EndCode
  bool no_end_code = false;         // WrongLength: a frame too short to hold an end code
  double fraction = 0.0;            // Held: of twice the budget; Late*: of the window
};
using FaultRates = std::array<double, kFaultKindCount>;  // percent per call

// What the line carried for the call: the request, the answer's end code (forced or real),
// its encoding before cut and noise, every byte put on the line, and an earlier call's late
// answer discarded first; not sent: timed out waiting for a quiet line.
struct Exchange {
  std::vector<std::uint8_t> request_wire;
  std::uint16_t station_end_code = 0;
  std::vector<std::uint8_t> answer_frame, delivered, carried;
  bool sent = true;
};

// What one call must end in. Log lines start after the first's 19-character timestamp.
// Unsettled: no answer accepted, the next call waits for a quiet line. Nothing sent: the
// record's request text is not known to the soak.
struct Expectation {
  std::int16_t result = 0;
  std::optional<std::string> event;
  std::vector<std::string> log_lines;
  bool timed_out = false, unsettled = false, nothing_sent = false;
};

// What a call did; no result when a run-time error escaped.
struct Observed {
  std::optional<std::int16_t> result;
  std::string error;
  std::vector<std::string> events, log_lines;
};

// The lines appended to a folder's .CEL files since the last look; one without its CR LF
// gets "<no CR LF>", so it fails any comparison.
struct LogTail {
  std::vector<std::string> NewLines() {
    std::vector<std::string> lines;
    std::set<std::string> names;  // in order
    if (std::filesystem::exists(folder)) {
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".CEL") names.insert(entry.path().filename().string());
      }
    }
    for (const auto& name : names) {
      std::ifstream in(folder / name, std::ios::binary);
      std::uintmax_t& offset = read_up_to[name];
      in.seekg(static_cast<std::streamoff>(offset));
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      offset += text.size();
      for (std::size_t start = 0, end = 0; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        lines.push_back(end == std::string::npos ? text.substr(start) + "<no CR LF>" : text.substr(start, end - start));
        if (end == std::string::npos) break;
      }
    }
    return lines;
  }

  std::filesystem::path folder;
  std::map<std::string, std::uintmax_t> read_up_to;
};

struct Tally {
  long calls = 0, pty_calls = 0, mismatches = 0, records_checked = 0;
  std::array<long, kFaultKindCount> faults{};
  void Mismatch(long call, const std::string& what) {  // the first 20 in full on stderr
    if (++mismatches <= 20) std::cerr << "mismatch at call " << call << ": " << what << "\n";
  }
};

// The image the control must hold: what successful reads brought, zero elsewhere.
class ImageShadow {
 public:
  ImageShadow() {
    for (int f = 0; f < kDeviceFamilyCount; ++f) {
      expected_[static_cast<std::size_t>(f)].assign(static_cast<std::size_t>(LastImageIndex(static_cast<DeviceFamily>(f))) + 1, 0);
    }
  }

  // The elements a read covers: with `memory` (it succeeded) they now hold the PLC's memory,
  // without it they are as before. Every `full_every` calls, and at the end, all of them.
  void Check(Tally& tally, long call, const std::string& what, const Tarvane& control, const sim::DeviceMemory* memory,
             const Operation& op, long full_every) {
    int wrong = 0;
    const bool bits = IsBitFamily(op.family);
    for (std::int32_t i = op.address; op.is_read() && i < op.address + op.points * (bits ? 16 : 1); ++i) {
      int& value = expected_[static_cast<std::size_t>(op.family)][static_cast<std::size_t>(i)];
      if (memory) value = bits ? (memory->Bit(StationFamily(op.family), i) ? 1 : 0) : memory->Word(StationFamily(op.family), i);
      if (Element(control, op.family, i) != value) ++wrong;
    }
    if (wrong) tally.Mismatch(call, what + std::to_string(wrong) + " image elements differ");
    if (full_every && call % full_every == 0) CheckAll(tally, call, what, control);
  }

  void CheckAll(Tally& tally, long call, const std::string& what, const Tarvane& control) const {
    int wrong = 0;
    for (int f = 0; f < kDeviceFamilyCount; ++f) {
      const auto& expected = expected_[static_cast<std::size_t>(f)];
      for (std::size_t i = 0; i < expected.size(); ++i) {
        if (Element(control, static_cast<DeviceFamily>(f), static_cast<std::int32_t>(i)) != expected[i]) ++wrong;
      }
    }
    if (wrong) tally.Mismatch(call, what + std::to_string(wrong) + " image elements differ from what reads brought");
  }

 private:
  static int Element(const Tarvane& control, DeviceFamily family, std::int32_t index) {
    const int value = control.Image(family, index);
    return IsBitFamily(family) ? value : static_cast<std::uint16_t>(value);
  }
  std::array<std::vector<int>, kDeviceFamilyCount> expected_;
};

using enum DeviceFamily;
constexpr std::array kAllFamilies{X, Y, M, B, SB, SM, L, F, S, D, SD, W, SW, ZR};
constexpr std::array kBitWriteFamilies{M, Y, B, L, F, S};
constexpr std::array kWordWriteFamilies{D, W, ZR};
constexpr std::array<std::uint16_t, 6> kForcedEndCodes{0x4031, 0x7E40, 0x8001, 0xC059, 0x0001, 0x4010};

template <typename T>
T Pick(std::mt19937_64& random, T low, T high) { return static_cast<T>(std::uniform_int_distribution<long long>(low, high)(random)); }

// Values that exercise DLE doubling as well as plain ones.
std::int16_t RandomWord(std::mt19937_64& random) {
  const int kind = Pick(random, 0, 7);
  return kind == 0 ? 0x1010 : kind == 1 ? 0x0010 : kind == 2 ? -1 : Pick<std::int16_t>(random, -32768, 32767);
}

// The highest device number the control accepts, for a read and for a bit write.
std::int32_t ReadLimit(DeviceFamily f) {
  return f == M || f == D || f == W ? 20000 : f == B ? 12287 : f == ZR ? 64000 : f == SB || f == SM || f == SD || f == SW ? 2047 : 8191;
}

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
  std::string text = testing::Spaced(bytes);
  std::erase(text, ' ');
  return text;
}

// Per operation kind: its name, and how its error-answer and time-out records begin (the
// remote stop and reset log their time-out as a bit write's).
struct KindText {
  const char *name, *record, *timeout;
};
constexpr KindText kKindTexts[] = {
    {"Read", "ReadWord", "ReadWord"}, {"WriteWord", "WriteSingleWord", "WriteSingleWord"},
    {"SwitchBit", "WriteSingleBit", "WriteSingleBit"}, {"WriteBlock", "WriteBlock", "WriteBlock"},
    {"RemoteRun", "RemoteRun", "RemoteRun"}, {"RemoteStop", "RemoteOperation", "WriteSingleBit"},
    {"RemoteReset", "RemoteOperation", "WriteSingleBit"}};
const KindText& Text(const Operation& op) { return kKindTexts[static_cast<int>(op.kind)]; }
std::string DeviceCodeHex(const Operation& op) { return HexOf({sim::DeviceCode(StationFamily(op.family))}); }

std::string TimeoutText(const Operation& op) {
  return std::string(Text(op).timeout) + " Time Out" + (op.is_read() ? " " + DeviceCodeHex(op) : "");
}

std::string Describe(const Operation& op) {
  return std::string(Text(op).name) + "(" + (op.kind == Operation::Kind::BlockWrite ? op.device_text : sim::FamilyName(StationFamily(op.family))) +
         " " + std::to_string(op.address) + ", points " + std::to_string(op.points) + ", value " + std::to_string(op.value) + ", on " +
         std::to_string(op.on) + ", clear " + std::to_string(op.clear_mode) + ")";
}

// A record laid out like the operation's error-answer record, `message` after the
// timestamp. A read's first line is padded to the 14-character print zone, counting the
// 19-character timestamp.
std::vector<std::string> AnswerRecord(const Operation& op, const std::string& message, const Exchange& exchange) {
  std::string first = Text(op).record + message + (op.is_read() ? "DeviceCode = " + DeviceCodeHex(op) : "") +
                      HexOf(exchange.request_wire);
  if (!op.is_read()) return {first};
  if ((19 + first.size()) % 14 != 0) first.append(14 - (19 + first.size()) % 14, ' ');
  return {first, "InBuffer = " + HexOf(exchange.carried) + HexOf(exchange.delivered)};
}

template <typename T, std::size_t N>
T PickOf(std::mt19937_64& random, const std::array<T, N>& items) { return items[Pick<std::size_t>(random, 0, N - 1)]; }

Operation RandomOperation(std::mt19937_64& random, bool small) {
  using enum Operation::Kind;
  Operation op;
  const int draw = Pick(random, 0, 99);
  const int most_words = small ? 20 : (Pick(random, 0, 19) == 0 ? 480 : 40);
  if (draw < 45) {
    op.kind = Read;
    op.family = PickOf(random, kAllFamilies);
    const int limit = ReadLimit(op.family), per_word = IsBitFamily(op.family) ? 16 : 1;
    op.points = static_cast<std::int16_t>(Pick(random, 1, std::min(most_words, (limit + 1) / per_word)));
    op.address = Pick(random, 0, limit + 1 - op.points * per_word);
  } else if (draw < 60) {
    op.kind = WordWrite;
    op.family = PickOf(random, kWordWriteFamilies);
    op.address = Pick(random, 0, ReadLimit(op.family));
    op.value = RandomWord(random);
  } else if (draw < 80) {
    op.kind = BitWrite;
    op.family = PickOf(random, kBitWriteFamilies);
    op.address = Pick(random, 0, op.family == M || op.family == B ? ReadLimit(op.family) : 8191);
    op.on = Pick(random, 0, 1) == 1;
  } else if (draw < 97) {
    op.kind = BlockWrite;
    op.family = PickOf(random, kWordWriteFamilies);
    op.points = static_cast<std::int16_t>(Pick(random, 1, most_words));
    // The last device a block may end on is the family's limit itself.
    op.address = Pick(random, 0, ReadLimit(op.family) + 1 - op.points);
    static const char* prefixes[3][4] = {{"D", "d", "D", "d"}, {"W", "w", "W", "w"}, {"ZR", "zr", "Zr", "zR"}};
    op.device_text = prefixes[op.family == D ? 0 : op.family == W ? 1 : 2][Pick(random, 0, 3)] + std::to_string(op.address);
    for (int k = 0; k < op.points; ++k) op.data.push_back(RandomWord(random));
  } else {
    op.kind = draw == 97 ? RemoteRun : draw == 98 ? RemoteStop : RemoteReset;
    if (draw == 97) op.clear_mode = static_cast<std::int16_t>(Pick(random, 0, 3) == 0 ? 1 : 0);
  }
  return op;
}

std::int16_t Invoke(Tarvane& control, const Operation& op) {
  switch (op.kind) {
    case Operation::Kind::Read: return control.Read(op.family, op.address, op.points);
    case Operation::Kind::WordWrite: return control.WriteWord(op.family, op.address, op.value);
    case Operation::Kind::BitWrite: return control.SwitchBit(op.family, op.address, op.on);
    case Operation::Kind::BlockWrite: return control.WriteBlock(op.device_text, op.points, IntegerArray::ZeroBased(op.data));
    case Operation::Kind::RemoteRun: return control.RemoteRun(1, op.clear_mode);
    case Operation::Kind::RemoteStop: return control.RemoteStop(1);
    case Operation::Kind::RemoteReset: return control.RemoteReset(1);
  }
  return -1;
}

InjectedFault RandomFault(std::mt19937_64& random, const FaultRates& rates) {
  InjectedFault fault;
  double draw = std::uniform_real_distribution<double>(0.0, 100.0)(random);
  for (int k = 1; k < kFaultKindCount && fault.kind == FaultKind::None; ++k) {
    if (draw < rates[static_cast<std::size_t>(k)]) fault.kind = static_cast<FaultKind>(k);
    draw -= rates[static_cast<std::size_t>(k)];
  }
  if (fault.kind == FaultKind::NoiseBefore || fault.kind == FaultKind::NoiseAfter) {
    fault.noise.resize(Pick<std::size_t>(random, 1, 12));
    for (auto& b : fault.noise) {
      b = Pick<std::uint8_t>(random, 0, 254);
      if (b >= 0x10) ++b;  // never a DLE, which could open or close a frame
    }
  }
  if (fault.kind == FaultKind::EndCode) fault.end_code = PickOf(random, kForcedEndCodes);
  if (fault.kind == FaultKind::WrongLength) fault.no_end_code = Pick(random, 0, 3) == 0;
  // The cut point is chosen once the answer's length is known: a number to take modulo.
  if (fault.kind == FaultKind::Cut) fault.cut_keep = Pick<std::size_t>(random, 0, 1000);
  fault.fraction = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  return fault;
}

Expectation Expect(const Operation& op, const InjectedFault& fault, const Exchange& exchange, bool sum_check,
                   int timeout_seconds) {
  Expectation e;
  const auto timeout = [&](bool hint) {
    e.timed_out = e.unsettled = true;
    e.result = 1;
    e.event = !op.is_read() ? "TimeOut"
              : hint        ? "TimeOut, Maybe because Sumcheck not set in PLC "
                            : "TimeOut " + std::to_string(timeout_seconds + 1) + " Second";
    e.log_lines = {TimeoutText(op) + HexOf(exchange.request_wire)};
    return e;
  };
  const auto refused = [&](const char* why) {
    e = {1, why, AnswerRecord(op, std::string(" ") + why, exchange), false, true};
    return e;
  };
  if (!exchange.sent) {
    timeout(false);
    e.nothing_sent = true;
    e.log_lines = {TimeoutText(op)};
    return e;
  }
  switch (fault.kind) {
    case FaultKind::LateInDrain: case FaultKind::LateDropped: case FaultKind::LateAfterWindow:
    case FaultKind::NoAnswer: case FaultKind::HandlerCloses:
    case FaultKind::Held:  // injected as such only when it outlasts the budget
      return timeout(false);
    case FaultKind::Cut:
      // A frame in through DLE ETX whose sum characters never came gives the hint.
      return timeout(sum_check && exchange.delivered.size() + 2 >= exchange.answer_frame.size());
    case FaultKind::BadSum:
      if (sum_check) return refused("SumCheck Error");
      break;
    case FaultKind::WrongLength:
      // An end code other than 0 is the PLC's answer whatever the length.
      if (fault.no_end_code || exchange.station_end_code == 0) return refused("Answer Length Error");
      break;
    default:
      break;
  }
  e.result = static_cast<std::int16_t>(exchange.station_end_code);
  if (exchange.station_end_code != 0) {
    e.log_lines = AnswerRecord(op, " ErroCode=" + HexOf({static_cast<std::uint8_t>(exchange.station_end_code >> 8),
                                                        static_cast<std::uint8_t>(exchange.station_end_code)}),
                               exchange);
  }
  return e;
}

std::string List(const std::vector<std::string>& items) {
  std::string text = "[";
  for (const auto& item : items) text += "\"" + item + "\" ";
  return text + "]";
}

std::vector<std::string> Compare(const Expectation& expected, const Observed& observed, const std::string& stamp) {
  std::vector<std::string> differences;
  if (!observed.result) {
    differences.push_back("run-time error " + observed.error);
  } else if (*observed.result != expected.result) {
    differences.push_back("result " + std::to_string(*observed.result) + ", expected " + std::to_string(expected.result));
  }
  const auto events = expected.event ? std::vector<std::string>{*expected.event} : std::vector<std::string>{};
  if (observed.events != events) differences.push_back("events " + List(observed.events) + ", expected " + List(events));
  static const std::regex kTimestamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
  const auto& got = observed.log_lines;
  const auto& want = expected.log_lines;
  bool lines_match = got.size() == want.size() && (got.empty() || std::equal(got.begin() + 1, got.end(), want.begin() + 1));
  if (lines_match && !got.empty()) {
    const std::string head = got[0].substr(0, 19), rest = got[0].size() >= 19 ? got[0].substr(19) : "";
    // Nothing sent: the request text after the expected start is not known here.
    lines_match = (stamp.empty() ? std::regex_match(head, kTimestamp) : head == stamp) &&
                  (expected.nothing_sent ? rest.starts_with(want[0]) : rest == want[0]);
  }
  if (!lines_match) differences.push_back("log lines " + List(got) + ", expected <" + (stamp.empty() ? "stamp" : stamp) + "> " + List(want));
  return differences;
}

// The line of both parts, 9600,n,8,1: the link adds a request's wire time to the call's budget.
constexpr nanoseconds kCharacter = 1041666ns;

// What both parts share: the control, the image it must hold, its log and the seeded draws.
class Part {
 protected:
  Part(std::uint64_t seed, Tally& tally) : tally_(tally), random_(seed) {}

  // The MelsecOut handler: records the event, and closes the port when the fault calls for it.
  void OnEvent(const std::string& text) {
    events_.push_back(text);
    if (std::exchange(close_on_event_, false)) control_->SetPortOpen(false);
  }

  // Starts an episode every `calls` calls, with the sum check drawn anew.
  bool Episode(long n, long calls) {
    if (n % calls != 0) return false;
    sum_check_ = Pick(random_, 0, 1) == 1;
    control_->SetSumCheck(sum_check_);
    return true;
  }

  // Counts the call and its fault; returns the call's number.
  long Count(FaultKind fault) {
    if (fault != FaultKind::None) ++tally_.faults[static_cast<std::size_t>(fault)];
    return ++tally_.calls;
  }

  // Makes the call; a port the handler closed is opened again for the next one.
  Observed Call(const Operation& op) {
    events_.clear();
    Observed observed;
    try {
      observed.result = Invoke(*control_, op);
    } catch (const std::exception& e) {
      observed.error = e.what();
    }
    close_on_event_ = false;
    if (!control_->PortOpen()) control_->SetPortOpen(true);
    observed.events = events_;
    observed.log_lines = log_.NewLines();
    tally_.records_checked += static_cast<long>(observed.log_lines.size());
    return observed;
  }

  std::string What(const Operation& op, FaultKind fault, const std::string& more) const {
    return Describe(op) + " [" + more + kFaultNames[static_cast<int>(fault)] + (sum_check_ ? ", sum check" : "") + "]: ";
  }

  Tally& tally_;
  std::mt19937_64 random_;
  std::unique_ptr<Tarvane> control_;
  ImageShadow shadow_;
  LogTail log_;
  FaultRates rates_;
  std::vector<std::string> events_;
  bool sum_check_ = false, close_on_event_ = false;
  std::vector<std::uint8_t> carry_;  // a late answer that the call discards before it sends
};

// The time-out-heavy part: the control on the in-memory port, a virtual PLC station
// answering each frame, faults applied to the answers on the test clock, so a 3-second
// time-out costs no real time.

constexpr long kEpisodeCalls = 40;
constexpr long kFullImageCheckEvery = 250;
// After a call without an accepted answer the link waits for a quiet line of 0.5 s or the
// owed answer's longest wire time.
constexpr auto kQuietFloor = 500ms;

class MemorySoak : Part {
 public:
  MemorySoak(std::uint64_t seed, Tally& tally);
  ~MemorySoak() { control_.reset(); }  // before the host it uses
  void Run(long calls);

 private:
  void Answer(testing::MemoryPort& port, const std::vector<std::uint8_t>& frame);
  bool Settles(MonotonicTime start);

  testing::TestHost host_;
  testing::MemoryPort* port_ = nullptr;
  sim::Station station_;
  std::int16_t timeout_ = 3;
  // The call under way.
  InjectedFault fault_;
  Exchange exchange_;
  bool station_answered_ = false;
  MonotonicTime budget_end_{};  // Timeout + 1 s from the start, whole seconds (plus the request's wire time once sent)
  std::optional<MonotonicTime> late_at_;  // this call's answer, delivered after its time-out
  std::vector<std::uint8_t> late_wire_;
  // What the link must wait for after a call that ended without an accepted answer: the
  // line quiet for `quiet` since `since` (the call's end, or the last byte seen later).
  struct Owed {
    MonotonicTime since;
    nanoseconds quiet;
    std::optional<MonotonicTime> late_at;  // and late_wire: the call's late answer, not yet seen
    std::vector<std::uint8_t> late_wire;
  };
  std::optional<Owed> owed_;
};

MemorySoak::MemorySoak(std::uint64_t seed, Tally& tally) : Part(seed, tally) {
  log_.folder = host_.log_folder;
  auto port = std::make_unique<testing::MemoryPort>(host_);
  port_ = port.get();
  control_ = std::make_unique<Tarvane>(host_, std::move(port));
  control_->InitProperties();
  port_->SetResponder([this](testing::MemoryPort& p, const std::vector<std::uint8_t>& frame) { Answer(p, frame); });
  control_->SetPortOpen(true);
  host_.on_melsec_out = [this](const std::string& text) { OnEvent(text); };
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
  for (std::size_t i = 0; !request && i < frame.size(); ++i) request = decoder.Feed(frame[i]);
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

  using enum FaultKind;
  const FaultKind kind = fault_.kind;
  sim::AnswerPlan plan;
  plan.bad_sum = kind == BadSum;
  plan.echo = kind == Echo;
  plan.broken_frame = kind == BrokenFrame;
  plan.twice = kind == Twice;
  if (kind == NoiseBefore) plan.noise_before = fault_.noise;
  if (kind == NoiseAfter) plan.noise_after = fault_.noise;
  if (kind == Cut) plan.cut = fault_.cut_keep % exchange_.answer_frame.size();
  std::vector<std::uint8_t> wire = sim::ShapeAnswer(*answer, plan, sum_check_, frame);
  if (kind == WrongLength && fault_.no_end_code) {
    // A frame with a good sum that stops before the end code, as a garbled PLC might send.
    wire = testing::Framed({0x0A, 0x00, 0xF8, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0xFF, 0xFF}, sum_check_);
  } else if (kind == WrongLength) {
    // Two data bytes too few for a read, two too many for anything else.
    sim::Answer wrong = *answer;
    wrong.data = wrong.data.size() >= 2 ? std::vector(wrong.data.begin(), wrong.data.end() - 2) : std::vector<std::uint8_t>{0x12, 0x34};
    wire = sim::EncodeAnswer(wrong, sum_check_);
  }

  // When the control gives up: the end of its budget plus the request's wire time.
  const nanoseconds until_deadline = budget_end_ + kCharacter * static_cast<long>(frame.size()) - host_.MonotonicNow();
  if (kind == NoAnswer || kind == LateDropped || kind == HandlerCloses) return;
  if (kind == LateInDrain || kind == LateAfterWindow) {
    // Inside the next call's quiet wait either way; past a 0.1 s window for the second.
    const auto after_deadline = kind == LateAfterWindow ? 150ms + std::chrono::milliseconds(static_cast<int>(300 * fault_.fraction))
                                                        : 1ms + std::chrono::milliseconds(static_cast<int>(79 * fault_.fraction));
    port.Deliver(wire, until_deadline + after_deadline);
    late_at_ = host_.MonotonicNow() + until_deadline + after_deadline;
    late_wire_ = wire;
    return;
  }
  if (kind == Trickle) {  // gaps short enough for the whole answer to be in before the deadline
    const auto gap = std::max(0ns, std::min<nanoseconds>(Pick(random_, 1, 20) * 1ms, (until_deadline - 1ms) / static_cast<long>(wire.size())));
    for (std::size_t i = 0; i < wire.size(); ++i) port.Deliver({wire[i]}, gap * static_cast<long>(i));
  } else {
    port.Deliver(wire);
  }
  exchange_.delivered = wire;
}

void MemorySoak::Run(long calls) {
  for (long n = 0; n < calls; ++n) {
    if (Episode(n, kEpisodeCalls)) {
      timeout_ = Pick<std::int16_t>(random_, 0, 3);
      control_->SetTimeout(timeout_);
      station_.set_sum_check(sum_check_);
    }
    // Idle time between calls moves the start across the second, and lets late answers land.
    host_.Advance(Pick(random_, 0, 1500) * 1ms);
    const Operation op = RandomOperation(random_, /*small=*/false);
    fault_ = RandomFault(random_, rates_);
    const long call = Count(fault_.kind);

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
    const std::size_t outputs_before = port_->outputs().size();
    const Observed observed = Call(op);
    const auto took = host_.MonotonicNow() - started;

    const std::string what = What(op, fault_.kind, "Timeout " + std::to_string(timeout_) + ", ");
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
    if (took > budget_end_ - started + wire_time) tally_.Mismatch(call, what + "took " + std::to_string(took / 1ms) + " ms");
    // What the link now owes the line; nothing sent: still the earlier call's answer.
    if (exchange_.sent && expected.unsettled) {
      // Its longest answer: every byte between DLE STX and DLE ETX doubled.
      const std::size_t longest = 4 + 2 * (14 + (op.is_read() ? 2 * static_cast<std::size_t>(op.points) : 0)) + (sum_check_ ? 2 : 0);
      owed_ = Owed{host_.MonotonicNow(), std::max<nanoseconds>(kQuietFloor, kCharacter * static_cast<long>(longest)),
                   late_at_, late_wire_};
    } else if (exchange_.sent) {
      owed_.reset();
    }
    shadow_.Check(tally_, call, what, *control_, observed.result == 0 ? &station_.memory() : nullptr, op, kFullImageCheckEvery);
  }
  shadow_.CheckAll(tally_, tally_.calls, "at the end: ", *control_);
}

// The real-line part: the control on the POSIX port, the virtual PLC on the other end of a
// pseudo-terminal, faults injected in the PLC one request at a time. Timeout 0 and few
// real time-outs keep it short.

constexpr long kPtyEpisodeCalls = 25;
constexpr auto kAnswerWait = 5000ms;  // how long any answer may take to be written by the PLC's thread
constexpr auto kTrickleGap = 1ms;
// A call that starts this close to a second boundary may time out with Timeout 0 before
// even a prompt answer is in: that is the time-out arithmetic, not a fault.
constexpr auto kBoundaryRoom = 150ms;
constexpr auto kCallMargin = 400ms;
// The longest request here (a 20-word block write, DLEs doubled) takes under 120 ms at 9600 baud.
constexpr auto kLongestRequest = 120ms;

nanoseconds IntoSecond() {
  const auto wall = std::chrono::system_clock::now().time_since_epoch();
  return wall - std::chrono::duration_cast<std::chrono::seconds>(wall);
}

class PtySoak : Part {
 public:
  PtySoak(std::uint64_t seed, Tally& tally);
  ~PtySoak();
  void Run(long calls);

 private:
  bool Inject(const InjectedFault& fault, nanoseconds into_second);
  Exchange Reconstruct(const Operation& op, const InjectedFault& fault, sim::CpuState before);

  sim::VirtualPlc plc_;
  PlainHost host_;
  std::size_t answers_expected_ = 0;
};

PtySoak::PtySoak(std::uint64_t seed, Tally& tally) : Part(seed, tally) {
  log_.folder = std::filesystem::temp_directory_path() / ("kestova-soak-" + std::to_string(::getpid()));
  std::filesystem::remove_all(log_.folder);
  std::filesystem::create_directories(log_.folder);
  const std::string path = plc_.Start();
  host_.SetLogFolder(log_.folder);
  host_.AddMelsecOutHandler([this](std::string& text) { OnEvent(text); });
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
  std::filesystem::remove_all(log_.folder, ec);
}
// Puts the fault in the PLC for the next request, `into_second` after a wall-clock second
// began; false when it brings no answer.
bool PtySoak::Inject(const InjectedFault& fault, nanoseconds into_second) {
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
    if (Episode(n, kPtyEpisodeCalls)) plc_.set_sum_check(sum_check_);
    const Operation op = RandomOperation(random_, /*small=*/true);
    const InjectedFault fault = RandomFault(random_, rates_);
    const long call = Count(fault.kind);
    ++tally_.pty_calls;

    // How far into its second the call starts, to tell a time-out of the arithmetic
    // (Timeout 0 ends at the next second boundary) from one of the line.
    const auto into_second = IntoSecond();
    const bool answers = Inject(fault, into_second);
    const sim::CpuState cpu_before = plc_.cpu_state();
    plc_.ClearRequests();
    close_on_event_ = fault.kind == FaultKind::HandlerCloses;
    const auto started = std::chrono::steady_clock::now();
    const Observed observed = Call(op);
    const auto took = std::chrono::steady_clock::now() - started;

    const std::string what = What(op, fault.kind, "pty, ");
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
      boundary.log_lines = {TimeoutText(op) + HexOf(exchange.request_wire)};
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
    shadow_.Check(tally_, call, what, *control_, observed.result == 0 ? &plc_.memory() : nullptr, op, 0);
  }
  shadow_.CheckAll(tally_, tally_.calls, "at the end of the pty part: ", *control_);
}

}  // namespace
}  // namespace kestova::soak

int main(int argc, char** argv) {
  long calls = 2000;
  std::uint64_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--seed" && i + 1 < argc) {
      seed = std::stoull(argv[++i]);
    } else {
      calls = std::stol(argv[i]);
    }
  }
  using namespace kestova::soak;
  Tally tally;
  const long pty_calls = calls / 10;
  MemorySoak(seed, tally).Run(calls - pty_calls);
  if (pty_calls > 0) PtySoak(seed + 1, tally).Run(pty_calls);
  std::string faults;
  long total = 0;
  for (int k = 1; k < kFaultKindCount; ++k) {
    const long count = tally.faults[static_cast<std::size_t>(k)];
    faults += std::string(k > 1 ? "," : "") + kFaultNames[k] + "=" + std::to_string(count);
    total += count;
  }
  std::cout << "kestova-soak: calls=" << tally.calls << " (pty " << tally.pty_calls << ") faults=" << total
            << " (" << faults << ") mismatches=" << tally.mismatches << " log_records_checked=" << tally.records_checked << std::endl;
  return tally.mismatches == 0 ? 0 : 1;
}
