#include "bench/syscall_count.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_control.h"
#include "bench/bench_transactions.h"
#include "bench/echo_peer.h"
#include "bench/floor_client.h"
#include "sim/virtual_plc.h"

namespace kestova::bench {
namespace {

constexpr int kWarmUpRuns = 20;
constexpr auto kAnswerDelay = std::chrono::milliseconds(2);

void Mark() { ::syscall(SYS_getppid); }

// The child: per transaction, a warm-up, then [mark] floor runs [mark] control runs [mark].
[[noreturn]] void RunTraced(const PtyRoundTripOptions& options, int runs) {
  if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(3);
  ::raise(SIGSTOP);
  try {
    sim::VirtualPlc::Options plc_options;
    plc_options.sum_check = options.sum_check;
    sim::VirtualPlc plc(plc_options);
    plc.InjectFault(sim::Fault::Delay(kAnswerDelay, /*send_anyway=*/true), 1.0, 1);
    const std::string plc_path = plc.Start();
    EchoPeer echo;
    echo.SetAnswerDelay(kAnswerDelay);
    FloorClient floor(echo.slave_path());
    BenchControl control(plc_path, options.settings, options.sum_check, WaitStyle::Blocking,
                         options.log_folder);
    control.Open();
    for (const BenchTransaction& transaction : StandardTransactions()) {
      const WireExchange wire = WireBytesOf(transaction, options.sum_check);
      echo.SetExchange(wire.request.size(), wire.answer);
      for (int k = 0; k < kWarmUpRuns; ++k) {
        floor.RoundTrip(wire.request, wire.answer.size());
        control.Run(transaction);
      }
      Mark();
      for (int k = 0; k < runs; ++k) floor.RoundTrip(wire.request, wire.answer.size());
      Mark();
      for (int k = 0; k < runs; ++k) control.Run(transaction);
      Mark();
    }
  } catch (...) {
    ::_exit(2);
  }
  ::_exit(0);
}

// System call entries of the child's main thread between markers: [0] before the first.
// Empty when the count did not run to the child's own end; `reaped` tells whether the
// child is gone.
std::vector<long> CountBetweenMarkers(pid_t child, bool& reaped) {
  int status = 0;
  reaped = true;
  if (::waitpid(child, &status, 0) != child) return {};
  if (!WIFSTOPPED(status)) return {};
  reaped = false;
  ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  std::vector<long> segments{0};
  long deliver = 0;
  for (;;) {
    if (::ptrace(PTRACE_SYSCALL, child, nullptr, deliver) != 0) return {};
    deliver = 0;
    if (::waitpid(child, &status, 0) != child) return {};
    reaped = WIFEXITED(status) || WIFSIGNALED(status);
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? segments : std::vector<long>{};
    if (WIFSIGNALED(status)) return {};
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      deliver = WSTOPSIG(status);  // the child's own signals go on to it
      continue;
    }
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info) <= 0) return {};
    if (info.op != PTRACE_SYSCALL_INFO_ENTRY) continue;
    if (info.entry.nr == SYS_getppid) {
      segments.push_back(0);
    } else {
      ++segments.back();
    }
  }
}

}  // namespace

std::vector<SyscallCounts> CountSyscallsPerExchange(const PtyRoundTripOptions& options, int runs) {
  const pid_t child = ::fork();
  if (child < 0) return {};
  if (child == 0) RunTraced(options, runs);
  bool reaped = false;
  const std::vector<long> segments = CountBetweenMarkers(child, reaped);
  if (!reaped) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  const std::vector<BenchTransaction>& transactions = StandardTransactions();
  if (segments.size() != 1 + 3 * transactions.size()) return {};
  std::vector<SyscallCounts> counts;
  for (std::size_t t = 0; t < transactions.size(); ++t) {
    counts.push_back({transactions[t].name, static_cast<double>(segments[1 + 3 * t]) / runs,
                      static_cast<double>(segments[2 + 3 * t]) / runs});
  }
  return counts;
}

}  // namespace kestova::bench
