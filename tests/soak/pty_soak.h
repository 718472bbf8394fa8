#pragma once
// The real-line part of the soak: the control on the POSIX port, the virtual PLC on the
// other end of a pseudo-terminal, faults injected in the PLC one request at a time.
// Timeout 0 and few real time-outs keep it short.

#include <cstdint>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "sim/virtual_plc.h"
#include "soak_checks.h"
#include "soak_fault.h"
#include "soak_tally.h"

namespace kestova::soak {

class PtySoak {
 public:
  PtySoak(std::uint64_t seed, Tally& tally);
  ~PtySoak();
  void Run(long calls);

 private:
  // Puts the fault in the PLC for the next request, `into_second` after a wall-clock second
  // began; false when it brings no answer.
  bool Inject(const InjectedFault& fault, std::chrono::nanoseconds into_second);
  Exchange Reconstruct(const Operation& op, const InjectedFault& fault, sim::CpuState before);

  Tally& tally_;
  std::mt19937_64 random_;
  std::filesystem::path log_folder_;
  sim::VirtualPlc plc_;
  PlainHost host_;
  std::unique_ptr<Tarvane> control_;
  ImageShadow shadow_;
  LogTail log_;
  FaultRates rates_;
  std::vector<std::string> events_;
  bool sum_check_ = false;
  std::size_t answers_expected_ = 0;
  bool close_on_event_ = false;
  // A late answer that the next call discards before it sends.
  std::vector<std::uint8_t> carry_;
};

}  // namespace kestova::soak
