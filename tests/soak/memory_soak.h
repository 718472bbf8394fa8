#pragma once
// The time-out-heavy part of the soak: the control on the in-memory port, a virtual PLC
// station answering each frame, faults applied to the answers on the test clock, so a
// 3-second time-out costs no real time.

#include <cstdint>
#include <memory>
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
};

}  // namespace kestova::soak
