#pragma once
// The soak's shared parts: one call (an operation and its fault), what it must end in, how
// that is judged, and the tally. The two runs are in memory_soak.cpp and pty_soak.cpp.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kestova/tarvane.h"
#include "sim/device_memory.h"

namespace kestova::soak {

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
Operation RandomOperation(std::mt19937_64& random, bool small);  // small: short reads and blocks
std::int16_t Invoke(Tarvane& control, const Operation& op);

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
InjectedFault RandomFault(std::mt19937_64& random, const FaultRates& rates);

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
// timeout_seconds is the control's Timeout; read time-outs give "TimeOut " + (Timeout+1).
Expectation Expect(const Operation& op, const InjectedFault& fault, const Exchange& exchange, bool sum_check,
                   int timeout_seconds);
std::string HexOf(const std::vector<std::uint8_t>& bytes);

// What a call did.
struct Observed {
  std::optional<std::int16_t> result;  // none when a run-time error escaped
  std::string error;
  std::vector<std::string> events;
  std::vector<std::string> log_lines;
};
// `stamp` is what the first log line must open with; empty: any well-formed timestamp.
std::vector<std::string> Compare(const Expectation& expected, const Observed& observed, const std::string& stamp);

// The lines appended to a folder's .CEL files since the last look; one without its CR LF
// gets "<no CR LF>", so it fails any comparison.
class LogTail {
 public:
  explicit LogTail(std::filesystem::path folder) : folder_(std::move(folder)) {}
  std::vector<std::string> NewLines();

 private:
  std::filesystem::path folder_;
  std::map<std::string, std::uintmax_t> read_up_to_;
};

// The image the control must hold: what successful reads brought, zero elsewhere.
class ImageShadow {
 public:
  ImageShadow();
  // The elements a read covers: with `memory` (it succeeded) they now hold the PLC's
  // memory, without it they are as before. Returns how many of the control's differ.
  int CheckRead(const Tarvane& control, const sim::DeviceMemory* memory, const Operation& read);
  int CheckAll(const Tarvane& control) const;

 private:
  std::array<std::vector<int>, kDeviceFamilyCount> expected_;
};

struct Tally {
  long calls = 0;
  long pty_calls = 0;
  std::array<long, kFaultKindCount> faults{};
  long mismatches = 0;
  long records_checked = 0;
  void Mismatch(long call, const std::string& what);  // the first 20 in full on stderr
};

void RunMemorySoak(std::uint64_t seed, Tally& tally, long calls);
void RunPtySoak(std::uint64_t seed, Tally& tally, long calls);

}  // namespace kestova::soak
