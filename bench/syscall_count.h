#pragma once
// System calls per exchange, counted with ptrace in a child process: the child runs the
// exchanges on its main thread, the only one traced, while the virtual PLC and the echo
// peer serve from threads of their own, which are not. Each measured block is fenced by
// a marker call (getppid, which nothing else here makes), so set-up and warm-up are left
// out. Tracing slows the child down, so much that an answer would often be there before
// the client looks for it; both far ends therefore answer 2 ms late, as any real line
// does. Only the counts are taken from the child, never times.

#include <string>
#include <vector>

#include "bench/pty_round_trip.h"

namespace kestova::bench {

struct SyscallCounts {
  std::string transaction;
  double floor = 0.0;  // the bare client's round trip with the echo peer
  double ours = 0.0;   // the control's exchange with the virtual PLC
};

// One entry per standard transaction, in their order; empty when the system refuses to
// trace. Forks: call it while this process runs no other thread.
std::vector<SyscallCounts> CountSyscallsPerExchange(const PtyRoundTripOptions& options, int runs);

}  // namespace kestova::bench
