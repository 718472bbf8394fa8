// kestova-soak: thousands of calls of every operation against the virtual PLC with a few
// percent of each fault injected, every result, event, log record and device image
// element checked. Bounded and seeded: the same arguments give the same run.
//
//   kestova-soak [calls] [--seed N]
//
// 90 % of the calls run on the in-memory port with the test clock (time-outs cost
// nothing), the rest over a pseudo-terminal in real time with Timeout 0. Prints one
// summary line; exits 1 when any call did not end as its fault calls for.

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
  std::int16_t points = 1;  // words read or written
  std::int16_t value = 0;   // word write
  bool on = false;          // bit write
  std::string device_text;  // block write
  std::vector<std::int16_t> data;
  std::int16_t clear_mode = 0;

  bool is_read() const { return kind == Kind::Read; }
  std::string record_name() const;   // in error records: "ReadWord", "WriteSingleWord", ...
  std::string timeout_text() const;  // the time-out record after its timestamp
  std::string Describe() const;
};

inline sim::Family StationFamily(DeviceFamily f) { return static_cast<sim::Family>(static_cast<int>(f)); }

enum class FaultKind {
  None,
  LateInDrain,      // answer up to 80 ms after the time-out, seen by the next call before it sends
  LateDropped,      // answer after the time-out that the station drops for the next request
  NoAnswer,
  Cut,
  BadSum,
  NoiseBefore,
  NoiseAfter,
  Twice,
  EndCode,
  Trickle,
  WrongLength,      // a well-formed frame of the wrong length (in-memory port only)
  Echo,             // the request's own bytes before the answer
  LateAfterWindow,  // answer 0.15 to 0.45 s after the time-out: past a 0.1 s quiet window
  BrokenFrame,      // a frame broken off mid-data, holding 10 10 02 and a false answer
  Held,             // flow control holds the request up to twice the budget (in-memory port only)
  HandlerCloses,    // no answer, and the MelsecOut handler closes the port
};
inline constexpr int kFaultKindCount = 17;
inline constexpr const char* kFaultNames[kFaultKindCount] = {
    "none",    "late",    "late_dropped", "no_answer", "cut",  "bad_sum",           "noise_before", "noise_after",
    "twice",   "end_code", "trickle",     "wrong_length", "echo", "late_after_window", "broken_frame", "held",
    "handler_closes"};
inline const char* FaultName(FaultKind kind) { return kFaultNames[static_cast<int>(kind)]; }

struct InjectedFault {
  FaultKind kind = FaultKind::None;
  std::size_t cut_keep = 0;         // Cut: bytes of the answer kept, modulo its length
  std::vector<std::uint8_t> noise;  // NoiseBefore / NoiseAfter, never holding a DLE
  std::uint16_t end_code = 0;       // EndCode
  bool no_end_code = false;         // WrongLength: a frame too short to hold an end code
  double fraction = 0.0;            // Held: of twice the budget; Late*: of the window
};
using FaultRates = std::array<double, kFaultKindCount>;  // percent per call

// What the line carried for the call, as the station saw it.
struct Exchange {
  std::vector<std::uint8_t> request_wire;
  std::uint16_t station_end_code = 0;      // what the answer carried (forced or real)
  std::vector<std::uint8_t> answer_frame;  // the encoded answer, before cut and noise
  std::vector<std::uint8_t> delivered;     // every byte put on the line for this call
  std::vector<std::uint8_t> carried;       // an earlier call's late answer, discarded first
  bool sent = true;                        // false: timed out waiting for a quiet line
};

// What one call must end in.
struct Expectation {
  std::int16_t result = 0;
  std::optional<std::string> event;
  std::vector<std::string> log_lines;  // after the first line's 19-character timestamp
  bool timed_out = false;
  bool unsettled = false;     // no answer accepted: the next call waits for a quiet line
  bool nothing_sent = false;  // the record's request text is not known to the soak
};

// What a call did.
struct Observed {
  std::optional<std::int16_t> result;  // none when a run-time error escaped
  std::string error;
  std::vector<std::string> events;
  std::vector<std::string> log_lines;
};

// The lines appended to a folder's .CEL files since the last look; one without its CR LF
// gets "<no CR LF>", so it fails any comparison.
class LogTail {
 public:
  explicit LogTail(std::filesystem::path folder) : folder_(std::move(folder)) {}

  std::vector<std::string> NewLines() {
    std::vector<std::string> names, lines;
    if (std::filesystem::exists(folder_)) {
      for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        if (entry.path().extension() == ".CEL") names.push_back(entry.path().filename().string());
      }
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
      std::ifstream in(folder_ / name, std::ios::binary);
      std::uintmax_t& offset = read_up_to_[name];
      in.seekg(static_cast<std::streamoff>(offset));
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      offset += text.size();
      for (std::size_t start = 0, end = 0; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        if (end == std::string::npos) {
          lines.push_back(text.substr(start) + "<no CR LF>");
          break;
        }
        lines.push_back(text.substr(start, end - start));
      }
    }
    return lines;
  }

 private:
  std::filesystem::path folder_;
  std::map<std::string, std::uintmax_t> read_up_to_;
};

int ImageElement(const Tarvane& control, DeviceFamily family, std::int32_t index) {
  const int value = control.Image(family, index);
  return IsBitFamily(family) ? value : static_cast<std::uint16_t>(value);
}

// The image the control must hold: what successful reads brought, zero elsewhere.
class ImageShadow {
 public:
  ImageShadow() {
    for (int f = 0; f < kDeviceFamilyCount; ++f) {
      expected_[static_cast<std::size_t>(f)].assign(static_cast<std::size_t>(LastImageIndex(static_cast<DeviceFamily>(f))) + 1, 0);
    }
  }

  // The elements a read covers: with `memory` (it succeeded) they now hold the PLC's
  // memory, without it they are as before. Returns how many of the control's differ.
  int CheckRead(const Tarvane& control, const sim::DeviceMemory* memory, const Operation& read) {
    auto& expected = expected_[static_cast<std::size_t>(read.family)];
    const sim::Family f = StationFamily(read.family);
    const bool bits = IsBitFamily(read.family);
    int mismatches = 0;
    for (std::int32_t i = read.address; i < read.address + read.points * (bits ? 16 : 1); ++i) {
      int& value = expected[static_cast<std::size_t>(i)];
      if (memory) value = bits ? (memory->Bit(f, i) ? 1 : 0) : memory->Word(f, i);
      if (ImageElement(control, read.family, i) != value) ++mismatches;
    }
    return mismatches;
  }

  int CheckAll(const Tarvane& control) const {
    int mismatches = 0;
    for (int f = 0; f < kDeviceFamilyCount; ++f) {
      const auto& expected = expected_[static_cast<std::size_t>(f)];
      for (std::size_t i = 0; i < expected.size(); ++i) {
        if (ImageElement(control, static_cast<DeviceFamily>(f), static_cast<std::int32_t>(i)) != expected[i]) ++mismatches;
      }
    }
    return mismatches;
  }

 private:
  std::array<std::vector<int>, kDeviceFamilyCount> expected_;
};

struct Tally {
  long calls = 0;
  long pty_calls = 0;
  std::array<long, kFaultKindCount> faults{};
  long mismatches = 0;
  long records_checked = 0;
  void Mismatch(long call, const std::string& what) {  // the first 20 in full on stderr
  if (++mismatches <= 20) std::cerr << "mismatch at call " << call << ": " << what << "\n";
  }
};

constexpr std::array kAllFamilies{DeviceFamily::X,  DeviceFamily::Y,  DeviceFamily::M, DeviceFamily::B,
                                  DeviceFamily::SB, DeviceFamily::SM, DeviceFamily::L, DeviceFamily::F,
                                  DeviceFamily::S,  DeviceFamily::D,  DeviceFamily::SD, DeviceFamily::W,
                                  DeviceFamily::SW, DeviceFamily::ZR};
constexpr std::array kBitWriteFamilies{DeviceFamily::M, DeviceFamily::Y, DeviceFamily::B,
                                       DeviceFamily::L, DeviceFamily::F, DeviceFamily::S};
constexpr std::array kWordWriteFamilies{DeviceFamily::D, DeviceFamily::W, DeviceFamily::ZR};
constexpr std::array<std::uint16_t, 6> kForcedEndCodes{0x4031, 0x7E40, 0x8001, 0xC059, 0x0001, 0x4010};

template <typename T>
T Pick(std::mt19937_64& random, T low, T high) {
  return static_cast<T>(std::uniform_int_distribution<long long>(low, high)(random));
}

// Values that exercise DLE doubling as well as plain ones.
std::int16_t RandomWord(std::mt19937_64& random) {
  const int kind = Pick(random, 0, 7);
  return static_cast<std::int16_t>(kind == 0 ? 0x1010 : kind == 1 ? 0x0010 : kind == 2 ? -1 : Pick(random, -32768, 32767));
}

// The highest device number the control accepts, for a read and for a bit write.
std::int32_t ReadLimit(DeviceFamily f) {
  switch (f) {
    case DeviceFamily::M: case DeviceFamily::D: case DeviceFamily::W: return 20000;
    case DeviceFamily::B: return 12287;
    case DeviceFamily::ZR: return 64000;
    case DeviceFamily::SB: case DeviceFamily::SM: case DeviceFamily::SD: case DeviceFamily::SW: return 2047;
    default: return 8191;
  }
}

std::string FamilyName(DeviceFamily f) { return sim::FamilyName(StationFamily(f)); }

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
  std::string text = testing::Spaced(bytes);
  std::erase(text, ' ');
  return text;
}

// A record laid out like the operation's error-answer record, `message` after the
// timestamp. A read's first line is padded to the 14-character print zone, counting the
// 19-character timestamp.
std::vector<std::string> AnswerRecord(const Operation& op, const std::string& message, const Exchange& exchange) {
  const std::string request_text = HexOf(exchange.request_wire);
  if (!op.is_read()) return {op.record_name() + message + request_text};
  std::string first = op.record_name() + message + "DeviceCode = " + HexOf({sim::DeviceCode(StationFamily(op.family))}) +
                      request_text;
  if ((19 + first.size()) % 14 != 0) first.append(14 - (19 + first.size()) % 14, ' ');
  return {first, "InBuffer = " + HexOf(exchange.carried) + HexOf(exchange.delivered)};
}

std::string Operation::record_name() const {
  static const char* names[] = {"ReadWord", "WriteSingleWord", "WriteSingleBit", "WriteBlock",
                                "RemoteRun", "RemoteOperation", "RemoteOperation"};
  return names[static_cast<int>(kind)];
}

std::string Operation::timeout_text() const {
  if (kind == Kind::Read) return "ReadWord Time Out " + HexOf({sim::DeviceCode(StationFamily(family))});
  // The remote stop and reset log their time-out as a bit write's.
  static const char* names[] = {"", "WriteSingleWord", "WriteSingleBit", "WriteBlock",
                                "RemoteRun", "WriteSingleBit", "WriteSingleBit"};
  return std::string(names[static_cast<int>(kind)]) + " Time Out";
}

std::string Operation::Describe() const {
  static const char* kinds[] = {"Read", "WriteWord", "SwitchBit", "WriteBlock", "RemoteRun", "RemoteStop", "RemoteReset"};
  return std::string(kinds[static_cast<int>(kind)]) + "(" + (kind == Kind::BlockWrite ? device_text : FamilyName(family)) +
         " " + std::to_string(address) + ", points " + std::to_string(points) + ", value " + std::to_string(value) +
         ", on " + std::to_string(on) + ", clear " + std::to_string(clear_mode) + ")";
}

Operation RandomOperation(std::mt19937_64& random, bool small) {
  using K = Operation::Kind;
  Operation op;
  const int draw = Pick(random, 0, 99);
  const int most_words = small ? 20 : (Pick(random, 0, 19) == 0 ? 480 : 40);
  if (draw < 45) {
    op.kind = K::Read;
    op.family = kAllFamilies[Pick<std::size_t>(random, 0, kAllFamilies.size() - 1)];
    const std::int32_t limit = ReadLimit(op.family);
    const int per_word = IsBitFamily(op.family) ? 16 : 1;
    op.points = static_cast<std::int16_t>(Pick(random, 1, std::min(most_words, (limit + 1) / per_word)));
    op.address = Pick(random, 0, limit + 1 - op.points * per_word);
  } else if (draw < 60) {
    op.kind = K::WordWrite;
    op.family = kWordWriteFamilies[Pick<std::size_t>(random, 0, 2)];
    op.address = Pick(random, 0, ReadLimit(op.family));
    op.value = RandomWord(random);
  } else if (draw < 80) {
    op.kind = K::BitWrite;
    op.family = kBitWriteFamilies[Pick<std::size_t>(random, 0, kBitWriteFamilies.size() - 1)];
    op.address = Pick(random, 0, op.family == DeviceFamily::M || op.family == DeviceFamily::B ? ReadLimit(op.family) : 8191);
    op.on = Pick(random, 0, 1) == 1;
  } else if (draw < 97) {
    op.kind = K::BlockWrite;
    op.family = kWordWriteFamilies[Pick<std::size_t>(random, 0, 2)];
    op.points = static_cast<std::int16_t>(Pick(random, 1, most_words));
    // The last device a block may end on is the family's limit itself.
    op.address = Pick(random, 0, ReadLimit(op.family) + 1 - op.points);
    static const char* prefixes[3][4] = {{"D", "d", "D", "d"}, {"W", "w", "W", "w"}, {"ZR", "zr", "Zr", "zR"}};
    const int row = op.family == DeviceFamily::D ? 0 : op.family == DeviceFamily::W ? 1 : 2;
    op.device_text = prefixes[row][Pick(random, 0, 3)] + std::to_string(op.address);
    for (int k = 0; k < op.points; ++k) op.data.push_back(RandomWord(random));
  } else {
    op.kind = draw == 97 ? K::RemoteRun : draw == 98 ? K::RemoteStop : K::RemoteReset;
    if (draw == 97) op.clear_mode = static_cast<std::int16_t>(Pick(random, 0, 3) == 0 ? 1 : 0);
  }
  return op;
}

std::int16_t Invoke(Tarvane& control, const Operation& op) {
  using K = Operation::Kind;
  switch (op.kind) {
    case K::Read: return control.Read(op.family, op.address, op.points);
    case K::WordWrite: return control.WriteWord(op.family, op.address, op.value);
    case K::BitWrite: return control.SwitchBit(op.family, op.address, op.on);
    case K::BlockWrite: return control.WriteBlock(op.device_text, op.points, IntegerArray::ZeroBased(op.data));
    case K::RemoteRun: return control.RemoteRun(1, op.clear_mode);
    case K::RemoteStop: return control.RemoteStop(1);
    case K::RemoteReset: return control.RemoteReset(1);
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
    fault.noise.resize(std::uniform_int_distribution<std::size_t>(1, 12)(random));
    for (auto& b : fault.noise) {
      b = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(random));
      if (b == 0x10) b = 0x11;  // a DLE could open or close a frame
    }
  }
  if (fault.kind == FaultKind::EndCode) fault.end_code = kForcedEndCodes[std::uniform_int_distribution<std::size_t>(0, 5)(random)];
  if (fault.kind == FaultKind::WrongLength) fault.no_end_code = std::uniform_int_distribution<int>(0, 3)(random) == 0;
  // The cut point is chosen once the answer's length is known: a number to take modulo.
  if (fault.kind == FaultKind::Cut) fault.cut_keep = std::uniform_int_distribution<std::size_t>(0, 1000)(random);
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
    e.log_lines = {op.timeout_text() + HexOf(exchange.request_wire)};
    return e;
  };
  const auto refused = [&](const char* why) {
    e.result = 1;
    e.unsettled = true;
    e.event = why;
    e.log_lines = AnswerRecord(op, std::string(" ") + why, exchange);
    return e;
  };
  if (!exchange.sent) {
    timeout(false);
    e.nothing_sent = true;
    e.log_lines = {op.timeout_text()};
    return e;
  }
  switch (fault.kind) {
    case FaultKind::LateInDrain:
    case FaultKind::LateDropped:
    case FaultKind::LateAfterWindow:
    case FaultKind::NoAnswer:
    case FaultKind::HandlerCloses:
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

std::vector<std::string> Compare(const Expectation& expected, const Observed& observed, const std::string& stamp) {
  std::vector<std::string> differences;
  const auto list = [](const std::vector<std::string>& items) {
    std::string text = "[";
    for (const auto& item : items) text += "\"" + item + "\" ";
    return text + "]";
  };
  if (!observed.result) {
    differences.push_back("run-time error " + observed.error);
  } else if (*observed.result != expected.result) {
    differences.push_back("result " + std::to_string(*observed.result) + ", expected " + std::to_string(expected.result));
  }
  const auto events = expected.event ? std::vector<std::string>{*expected.event} : std::vector<std::string>{};
  if (observed.events != events) differences.push_back("events " + list(observed.events) + ", expected " + list(events));
  static const std::regex kTimestamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
  bool lines_match = observed.log_lines.size() == expected.log_lines.size();
  for (std::size_t i = 0; lines_match && i < observed.log_lines.size(); ++i) {
    const std::string& line = observed.log_lines[i];
    if (i > 0) {
      lines_match = line == expected.log_lines[i];
      continue;
    }
    const std::string head = line.substr(0, 19), rest = line.size() >= 19 ? line.substr(19) : "";
    // Nothing sent: the request text after the expected start is not known here.
    lines_match = (stamp.empty() ? std::regex_match(head, kTimestamp) : head == stamp) &&
                  (expected.nothing_sent ? rest.starts_with(expected.log_lines[0]) : rest == expected.log_lines[0]);
  }
  if (!lines_match) {
    differences.push_back("log lines " + list(observed.log_lines) + ", expected <" +
                          (stamp.empty() ? "stamp" : stamp) + "> " + list(expected.log_lines));
  }
  return differences;
}

// The time-out-heavy part: the control on the in-memory port, a virtual PLC station
// answering each frame, faults applied to the answers on the test clock, so a 3-second
// time-out costs no real time.

constexpr long kEpisodeCalls = 40;
constexpr long kFullImageCheckEvery = 250;
// The in-memory port's line, 9600,n,8,1: the link adds a request's wire time to the call's
// budget, and waits for a quiet line of 0.5 s or the owed answer's longest wire time.
constexpr nanoseconds kCharacter = 1041666ns;  // the line of both parts
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

// The real-line part: the control on the POSIX port, the virtual PLC on the other end of a
// pseudo-terminal, faults injected in the PLC one request at a time. Timeout 0 and few
// real time-outs keep it short.

using RealClock = std::chrono::steady_clock;

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

class PtySoak {
 public:
  PtySoak(std::uint64_t seed, Tally& tally);
  ~PtySoak();
  void Run(long calls);

 private:
  bool Inject(const InjectedFault& fault, nanoseconds into_second);
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
    if (n % kPtyEpisodeCalls == 0) {
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
}  // namespace kestova::soak

int main(int argc, char** argv) {
  long calls = 2000;
  std::uint64_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seed" && i + 1 < argc) {
      seed = std::stoull(argv[++i]);
    } else if (arg.find_first_not_of("0123456789") == std::string::npos && !arg.empty()) {
      calls = std::stol(arg);
    } else {
      std::cerr << "usage: kestova-soak [calls] [--seed N]\n";
      return 2;
    }
  }
  kestova::soak::Tally tally;
  const long pty_calls = calls / 10;
  kestova::soak::MemorySoak(seed, tally).Run(calls - pty_calls);
  if (pty_calls > 0) kestova::soak::PtySoak(seed + 1, tally).Run(pty_calls);
  std::string faults;
  long injected = 0;
  for (int k = 1; k < kestova::soak::kFaultKindCount; ++k) {
    injected += tally.faults[static_cast<std::size_t>(k)];
    faults += std::string(k > 1 ? "," : "") + kestova::soak::kFaultNames[k] + "=" + std::to_string(tally.faults[static_cast<std::size_t>(k)]);
  }
  std::cout << "kestova-soak: calls=" << tally.calls << " (pty " << tally.pty_calls << ") faults=" << injected << " ("
            << faults << ") mismatches=" << tally.mismatches << " log_records_checked=" << tally.records_checked << std::endl;
  return tally.mismatches == 0 ? 0 : 1;
}
