#pragma once
// The time-out-heavy part of the soak: the control on the in-memory port, a virtual PLC
// station answering each frame, faults applied to the answers on the test clock, so a
// 3-second time-out costs no real time.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>

#include "kestova/tarvane.h"
#include "sim/station.h"
#include "soak_checks.h"
#include "soak_fault.h"
#include "soak_tally.h"
#include "support/memory_port.h"
#include "support/test_host.h"

namespace kestova::soak {

class MemorySoak {
 public:
  MemorySoak(std::uint64_t seed, Tally& tally);
  void Run(long calls);

 private:
  void Answer(testing::MemoryPort& port, const std::vector<std::uint8_t>& frame);
  void NewEpisode();
  // Whether the call starting now may send within its budget after a call that left the
  // line unsettled, and which late bytes it discards first (into carry_).
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
  std::string stamp_;
  bool station_answered_ = false;
  MonotonicTime budget_end_{};  // Timeout + 1 s from the start, whole seconds; plus the
                                // request's wire time once sent
  std::vector<std::uint8_t> carry_;
  std::optional<MonotonicTime> late_at_;  // this call's answer, delivered after its time-out
  std::vector<std::uint8_t> late_wire_;
  bool close_on_event_ = false;

  // What the link must wait for after a call that ended without an accepted answer: the
  // line quiet for `quiet` since `since` (the call's end, or the last byte seen later).
  struct Owed {
    MonotonicTime since;
    std::chrono::nanoseconds quiet;
    std::optional<MonotonicTime> late_at;
    std::vector<std::uint8_t> late_wire;
  };
  std::optional<Owed> owed_;
};

}  // namespace kestova::soak
