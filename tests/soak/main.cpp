// kestova-soak: thousands of calls of every operation against the virtual PLC with a few
// percent of each fault injected, every result, event, log record and device image
// element checked. Bounded and seeded: the same arguments give the same run.
//
//   kestova-soak [calls] [--seed N] [--pty-share PERCENT]
//
// Most calls run on the in-memory port with the test clock (time-outs cost nothing);
// PERCENT of them (default 10) run over a pseudo-terminal in real time with Timeout 0.
// Prints one summary line; exits 1 when any call did not end as its fault calls for.

#include <cstdlib>
#include <iostream>
#include <string>

#include "memory_soak.h"
#include "pty_soak.h"

int main(int argc, char** argv) {
  long calls = 2000;
  std::uint64_t seed = 1;
  long pty_share = 10;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seed" && i + 1 < argc) {
      seed = std::stoull(argv[++i]);
    } else if (arg == "--pty-share" && i + 1 < argc) {
      pty_share = std::stol(argv[++i]);
    } else if (arg == "--help" || arg == "-h") {
      std::cout << "usage: kestova-soak [calls] [--seed N] [--pty-share PERCENT]\n";
      return 0;
    } else {
      calls = std::stol(arg);
    }
  }
  if (calls < 0 || pty_share < 0 || pty_share > 100) {
    std::cerr << "kestova-soak: calls must be positive and the pty share 0 to 100\n";
    return 2;
  }

  kestova::soak::Tally tally;
  const long pty_calls = calls * pty_share / 100;
  kestova::soak::MemorySoak(seed, tally).Run(calls - pty_calls);
  if (pty_calls > 0) kestova::soak::PtySoak(seed + 1, tally).Run(pty_calls);
  std::cout << tally.Summary() << std::endl;
  return tally.mismatches == 0 ? 0 : 1;
}
