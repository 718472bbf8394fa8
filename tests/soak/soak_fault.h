#pragma once
// The faults the soak injects, one (or none) per call, and what each must lead to.

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "soak_operation.h"

namespace kestova::soak {

enum class FaultKind {
  None,
  LateInDrain,   // answer up to 80 ms after the time-out, seen by the next call before it sends
  LateDropped,   // answer after the time-out that the station drops for the next request
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
  Held,             // flow control holds the request, up to twice the call's budget
                    // (in-memory port only)
  HandlerCloses,    // no answer, and the MelsecOut handler closes the port
};
inline constexpr int kFaultKindCount = 17;
const char* FaultName(FaultKind kind);

struct InjectedFault {
  FaultKind kind = FaultKind::None;
  std::size_t cut_keep = 0;            // Cut: bytes of the answer frame kept
  std::vector<std::uint8_t> noise;     // NoiseBefore / NoiseAfter
  std::uint16_t end_code = 0;          // EndCode
  bool no_end_code = false;            // WrongLength: a frame too short to hold an end code
  double fraction = 0.0;               // Held: of twice the budget; Late*: of the window
};

// Each fault kind fires with its own probability (percent) per call.
struct FaultRates {
  std::array<double, kFaultKindCount> percent{};
};

InjectedFault RandomFault(std::mt19937_64& random, const FaultRates& rates);
// Line noise: no DLE among it, so it can never open or close a frame.
std::vector<std::uint8_t> RandomNoise(std::mt19937_64& random);

// What one call must end in.
struct Expectation {
  std::int16_t result = 0;
  std::optional<std::string> event;
  // The log lines after their 19-character timestamp (the first line's only).
  std::vector<std::string> log_lines;
  bool timed_out = false;
  // The call ended without an answer it accepted: the next one waits for a quiet line.
  bool unsettled = false;
  // Timed out before sending: the record's request text is not known to the soak.
  bool nothing_sent = false;
};

// What the line carried for the call, as the station saw it, with what an earlier call's
// late answer left for it.
struct Exchange {
  std::vector<std::uint8_t> request_wire;  // the control's frame
  std::uint16_t station_end_code = 0;       // what the answer carried (forced or real)
  std::vector<std::uint8_t> answer_frame;   // the encoded answer frame, before cut and noise
  std::vector<std::uint8_t> delivered;      // every byte put on the line for this call
  std::vector<std::uint8_t> carried;        // an earlier call's late answer, discarded first
  bool sent = true;                          // false: timed out waiting for a quiet line
};

// The outcome the control must give, from the operation, the fault and what was sent.
// timeout_seconds is the control's Timeout; read time-outs give "TimeOut " + (Timeout+1).
Expectation Expect(const Operation& op, const InjectedFault& fault, const Exchange& exchange,
                   bool sum_check, int timeout_seconds);

// A frame with a good sum that stops before the end code, as a garbled PLC might send.
std::vector<std::uint8_t> FrameWithoutEndCode(bool sum_check);

// "ReadWord ErroCode=" style four upper-case digits; the request text of a frame.
std::string FourHex(std::uint16_t value);
std::string HexOf(const std::vector<std::uint8_t>& bytes);

}  // namespace kestova::soak
