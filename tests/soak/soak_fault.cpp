#include "soak_fault.h"

#include <cstdio>

namespace kestova::soak {
namespace {

constexpr std::array<std::uint16_t, 6> kForcedEndCodes{0x4031, 0x7E40, 0x8001, 0xC059, 0x0001, 0x4010};

}  // namespace

const char* FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::None: return "none";
    case FaultKind::LateInDrain: return "late";
    case FaultKind::LateDropped: return "late_dropped";
    case FaultKind::NoAnswer: return "no_answer";
    case FaultKind::Cut: return "cut";
    case FaultKind::BadSum: return "bad_sum";
    case FaultKind::NoiseBefore: return "noise_before";
    case FaultKind::NoiseAfter: return "noise_after";
    case FaultKind::Twice: return "twice";
    case FaultKind::EndCode: return "end_code";
    case FaultKind::Trickle: return "trickle";
    case FaultKind::WrongLength: return "wrong_length";
    case FaultKind::Echo: return "echo";
    case FaultKind::LateAfterWindow: return "late_after_window";
    case FaultKind::BrokenFrame: return "broken_frame";
    case FaultKind::Held: return "held";
    case FaultKind::HandlerCloses: return "handler_closes";
  }
  return "?";
}

std::vector<std::uint8_t> RandomNoise(std::mt19937_64& random) {
  std::vector<std::uint8_t> noise(std::uniform_int_distribution<std::size_t>(1, 12)(random));
  for (auto& b : noise) {
    b = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(random));
    if (b == 0x10) b = 0x11;
  }
  return noise;
}

InjectedFault RandomFault(std::mt19937_64& random, const FaultRates& rates) {
  InjectedFault fault;
  double draw = std::uniform_real_distribution<double>(0.0, 100.0)(random);
  for (int k = 1; k < kFaultKindCount; ++k) {
    if (draw < rates.percent[static_cast<std::size_t>(k)]) {
      fault.kind = static_cast<FaultKind>(k);
      break;
    }
    draw -= rates.percent[static_cast<std::size_t>(k)];
  }
  if (fault.kind == FaultKind::NoiseBefore || fault.kind == FaultKind::NoiseAfter) fault.noise = RandomNoise(random);
  if (fault.kind == FaultKind::EndCode) {
    fault.end_code = kForcedEndCodes[std::uniform_int_distribution<std::size_t>(0, kForcedEndCodes.size() - 1)(random)];
  }
  if (fault.kind == FaultKind::WrongLength) fault.no_end_code = std::uniform_int_distribution<int>(0, 3)(random) == 0;
  // The cut point is chosen once the answer's length is known: a fraction here.
  if (fault.kind == FaultKind::Cut) fault.cut_keep = std::uniform_int_distribution<std::size_t>(0, 1000)(random);
  fault.fraction = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  return fault;
}

std::vector<std::uint8_t> FrameWithoutEndCode(bool sum_check) {
  const std::vector<std::uint8_t> body{0x0A, 0x00, 0xF8, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0xFF, 0xFF};
  std::vector<std::uint8_t> wire{0x10, 0x02};
  unsigned sum = 0;
  for (std::uint8_t b : body) {
    sum += b;
    wire.push_back(b);
  }
  wire.push_back(0x10);
  wire.push_back(0x03);
  if (sum_check) {
    static const char* digits = "0123456789ABCDEF";
    wire.push_back(static_cast<std::uint8_t>(digits[(sum >> 4) & 15]));
    wire.push_back(static_cast<std::uint8_t>(digits[sum & 15]));
  }
  return wire;
}

std::string FourHex(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

namespace {

// A record laid out like the operation's error-answer record, with `message` after the
// timestamp. The read's first line is padded to the 14-character print zone, counting
// the 19-character timestamp.
std::vector<std::string> AnswerRecord(const Operation& op, const std::string& message, const Exchange& exchange) {
  const std::string request_text = HexOf(exchange.request_wire);
  if (!op.is_read()) return {message + request_text};
  char code[4];
  std::snprintf(code, sizeof code, "%X", DeviceCodeOf(op.family));
  std::string first = message + "DeviceCode = " + code + request_text;
  const std::size_t length = 19 + first.size();
  if (length % 14 != 0) first.append(14 - length % 14, ' ');
  return {first, "InBuffer = " + HexOf(exchange.carried) + HexOf(exchange.delivered)};
}

}  // namespace

Expectation Expect(const Operation& op, const InjectedFault& fault, const Exchange& exchange,
                   bool sum_check, int timeout_seconds) {
  Expectation e;
  const auto timeout = [&](bool hint) {
    e.timed_out = true;
    e.unsettled = true;
    e.result = 1;
    if (!op.is_read()) {
      e.event = "TimeOut";
    } else if (hint) {
      e.event = "TimeOut, Maybe because Sumcheck not set in PLC ";
    } else {
      e.event = "TimeOut " + std::to_string(timeout_seconds + 1) + " Second";
    }
    e.log_lines = {op.timeout_text() + HexOf(exchange.request_wire)};
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
    case FaultKind::Held:  // the soak injects it as such only when it outlasts the budget
      timeout(false);
      return e;
    case FaultKind::Cut: {
      // A frame in through DLE ETX whose sum characters never came gives the hint.
      const std::size_t kept = exchange.delivered.size();
      timeout(sum_check && kept + 2 >= exchange.answer_frame.size());
      return e;
    }
    case FaultKind::BadSum:
      if (sum_check) {
        e.result = 1;
        e.unsettled = true;
        e.event = "SumCheck Error";
        e.log_lines = AnswerRecord(op, op.record_name() + " SumCheck Error", exchange);
        return e;
      }
      break;
    case FaultKind::WrongLength:
      // An end code other than 0 is the PLC's answer whatever the length; anything else
      // of the wrong length is refused.
      if (fault.no_end_code || exchange.station_end_code == 0) {
        e.result = 1;
        e.unsettled = true;
        e.event = "Answer Length Error";
        e.log_lines = AnswerRecord(op, op.record_name() + " Answer Length Error", exchange);
        return e;
      }
      break;
    default:
      break;
  }
  e.result = static_cast<std::int16_t>(exchange.station_end_code);
  if (exchange.station_end_code != 0) {
    e.log_lines = AnswerRecord(op, op.record_name() + " ErroCode=" + FourHex(exchange.station_end_code), exchange);
  }
  return e;
}

}  // namespace kestova::soak
