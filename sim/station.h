#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/device_memory.h"
#include "sim/request.h"

namespace kestova::sim {

enum class CpuState { Run, Stop };

// The fields of one answer before framing.
struct Answer {
  std::array<std::uint8_t, 7> routing{};
  std::uint16_t end_code = 0;
  std::vector<std::uint8_t> data;  // only with end code 0
};

// Format-5 wire bytes of an answer: DLE STX, count, 0xF8, routing, 0xFF 0xFF, end code,
// data, DLE ETX, and with `sum_check` the two sum characters (one off when `corrupt_sum`).
// DLE doubling from the count field through the last data byte.
std::vector<std::uint8_t> EncodeAnswer(const Answer& answer, bool sum_check,
                                       bool corrupt_sum = false);

// The station proper: device memory, CPU state and the commands, with no I/O and no
// clock, so it can be driven frame by frame. Remote RUN takes mode 1 or 3 and clear mode
// 0 to 2 (see DeviceMemory::IsLatched); remote STOP and RESET take mode 1; RESET is
// refused while the CPU runs, and otherwise clears memory outside the latch range and
// leaves the CPU stopped. A refused request changes nothing. Execute and HandleFrame are meant for
// one thread at a time; memory() and cpu_state() may be used from any thread.
class Station {
 public:
  DeviceMemory& memory() { return memory_; }
  const DeviceMemory& memory() const { return memory_; }

  CpuState cpu_state() const { return cpu_state_.load(); }
  void set_cpu_state(CpuState state) { cpu_state_.store(state); }

  bool sum_check() const { return sum_check_.load(); }
  void set_sum_check(bool on) { sum_check_.store(on); }

  // Carries out one request and says what to answer; nullopt for a frame that is never
  // answered (header_ok false). A sum-check failure answers 0x7F24 and changes nothing.
  std::optional<Answer> Execute(const ReceivedRequest& request);

  // Decodes `wire` with the current sum-check setting (characters missing at the end
  // count as not arrived in time), executes the first complete frame and returns its
  // answer's wire bytes; nullopt when no frame in `wire` is answered.
  std::optional<std::vector<std::uint8_t>> HandleFrame(std::span<const std::uint8_t> wire);

 private:
  std::uint16_t BatchRead(const ReceivedRequest& request, std::vector<std::uint8_t>& out);
  std::uint16_t BatchWrite(const ReceivedRequest& request);
  std::uint16_t RandomBitWrite(const ReceivedRequest& request);
  std::uint16_t RemoteRun(const ReceivedRequest& request);
  std::uint16_t RemoteStop(const ReceivedRequest& request);
  std::uint16_t RemoteReset(const ReceivedRequest& request);

  DeviceMemory memory_;
  std::atomic<CpuState> cpu_state_{CpuState::Run};
  std::atomic<bool> sum_check_{false};
};

}  // namespace kestova::sim
