// kestova-soak: thousands of calls of every operation against the virtual PLC with a few
// percent of each fault injected, every result, event, log record and device image
// element checked. Bounded and seeded: the same arguments give the same run.
//
//   kestova-soak [calls] [--seed N]
//
// 90 % of the calls run on the in-memory port with the test clock (time-outs cost
// nothing), the rest over a pseudo-terminal in real time with Timeout 0. Prints one
// summary line; exits 1 when any call did not end as its fault calls for.

#include <algorithm>
#include <fstream>
#include <iostream>
#include <regex>

#include "soak.h"
#include "support/bytes.h"

namespace kestova::soak {
namespace {

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

int ImageElement(const Tarvane& control, DeviceFamily family, std::int32_t index) {
  const int value = control.Image(family, index);
  return IsBitFamily(family) ? value : static_cast<std::uint16_t>(value);
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

}  // namespace

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
  std::string text = testing::Spaced(bytes);
  std::erase(text, ' ');
  return text;
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
  const std::string at = "(" + std::to_string(address);
  switch (kind) {
    case Kind::Read: return "Read" + FamilyName(family) + at + ", " + std::to_string(points) + ")";
    case Kind::WordWrite: return "Write" + FamilyName(family) + at + ", " + std::to_string(value) + ")";
    case Kind::BitWrite: return (on ? "Set" : "Reset") + FamilyName(family) + at + ")";
    case Kind::BlockWrite: return "WriteBlock(\"" + device_text + "\", " + std::to_string(points) + ")";
    case Kind::RemoteRun: return "RemoteRun(1, " + std::to_string(clear_mode) + ")";
    case Kind::RemoteStop: return "RemoteStop()";
    case Kind::RemoteReset: return "RemoteReset()";
  }
  return "";
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

std::vector<std::string> LogTail::NewLines() {
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

ImageShadow::ImageShadow() {
  for (int f = 0; f < kDeviceFamilyCount; ++f) {
    expected_[static_cast<std::size_t>(f)].assign(static_cast<std::size_t>(LastImageIndex(static_cast<DeviceFamily>(f))) + 1, 0);
  }
}

int ImageShadow::CheckRead(const Tarvane& control, const sim::DeviceMemory* memory, const Operation& read) {
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

int ImageShadow::CheckAll(const Tarvane& control) const {
  int mismatches = 0;
  for (int f = 0; f < kDeviceFamilyCount; ++f) {
    const auto& expected = expected_[static_cast<std::size_t>(f)];
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (ImageElement(control, static_cast<DeviceFamily>(f), static_cast<std::int32_t>(i)) != expected[i]) ++mismatches;
    }
  }
  return mismatches;
}

void Tally::Mismatch(long call, const std::string& what) {
  if (++mismatches <= 20) std::cerr << "mismatch at call " << call << ": " << what << "\n";
}

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
  kestova::soak::RunMemorySoak(seed, tally, calls - pty_calls);
  if (pty_calls > 0) kestova::soak::RunPtySoak(seed + 1, tally, pty_calls);
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
