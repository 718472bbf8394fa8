#pragma once
// `kestova simulate`: serve a virtual PLC on a pseudo-terminal until interrupted, so
// another program (or another kestova) can connect to the printed path. POSIX only.

#include <string>

#include "cli/exit_status.h"
#include "cli/reporter.h"

namespace kestova::cli {

struct SimulateOptions {
  bool sum_check = false;
  std::string link_path;  // also reachable through this symbolic link when set
};

ExitStatus RunSimulator(Reporter& reporter, const SimulateOptions& options);

}  // namespace kestova::cli
