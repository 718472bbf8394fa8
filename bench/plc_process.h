#pragma once
// The virtual PLC in a child process of its own, so the process CPU time the benchmark
// reads is the control's alone and the PLC's thread never competes for the control's
// locks or allocator. The child serves until this object is destroyed.

#include <sys/types.h>

#include <string>

#include "bench/raw_terminal.h"

namespace kestova::bench {

struct PlcConfig {
  bool sum_check = true;
  // The PLC writes its answers at the pace of `settings`, and the requests reach it
  // through a PacedRelay at the same pace.
  bool paced = false;
  std::string settings = "115200,o,8,1";
};

class PlcProcess {
 public:
  // Forks; returns once the child serves. Call it while this process runs no other
  // thread. Throws std::runtime_error with the child's reason when it could not start.
  explicit PlcProcess(const PlcConfig& config);
  ~PlcProcess();
  PlcProcess(const PlcProcess&) = delete;
  PlcProcess& operator=(const PlcProcess&) = delete;

  // The terminal the control opens (the relay's when paced).
  const std::string& path() const { return path_; }

 private:
  pid_t child_ = -1;
  UniqueFd keep_serving_;  // the child stops when this closes
  std::string path_;
};

}  // namespace kestova::bench
