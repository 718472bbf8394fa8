// kestova_bench: measures the codec, the pseudo-terminal round trip and the paced round
// trip with the CPU they use, each beside its baseline, and prints one Markdown table.
//
//   kestova_bench [--quick] [--only=codec,pty,paced,python] [Google Benchmark flags]
//
// --quick takes fewer samples, for a check that everything runs; --only runs some items
// (the targets of the others are left out). The published figures come from a full run
// of a build without sanitizers.

#include <benchmark/benchmark.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "bench/codec_bench.h"
#include "bench/paced_round_trip.h"
#include "bench/pty_round_trip.h"
#include "bench/python_round_trip.h"
#include "bench/report_table.h"
#include "bench/syscall_count.h"

namespace {

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      const auto colon = line.find(':');
      if (colon != std::string::npos) return line.substr(line.find_first_not_of(' ', colon + 1));
    }
  }
  return "unknown processor";
}

std::string Machine() {
  std::string text = CpuModel() + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores";
  utsname name{};
  if (::uname(&name) == 0) text += ", " + std::string(name.sysname) + " " + name.release;
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bool quick = false;
  std::string only = "codec,pty,paced,python";
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--quick") {
      quick = true;
    } else if (argument.rfind("--only=", 0) == 0) {
      only = argument.substr(7);
    } else {
      std::cerr << "kestova_bench: unknown argument " << argument << "\n"
                << "usage: kestova_bench [--quick] [--only=codec,pty,paced,python] [--benchmark_... flags]\n";
      return 2;
    }
  }

  const std::filesystem::path log_folder =
      std::filesystem::temp_directory_path() / ("kestova-bench-" + std::to_string(::getpid()));
  int status = 0;
  try {
    kestova::bench::BenchReport report;
    report.machine = Machine();

    const auto wanted = [&only](std::string_view item) {
      return ("," + only + ",").find("," + std::string(item) + ",") != std::string::npos;
    };
    kestova::bench::PtyRoundTripOptions pty;
    pty.log_folder = log_folder;
    if (quick) {
      pty.rounds = 2;
      pty.per_block = 5;
    }
    // The system-call count and the paced item fork, so they run first, while this
    // process has no other thread.
    if (wanted("pty")) {
      std::cerr << "system calls per exchange...\n";
      report.syscalls = kestova::bench::CountSyscallsPerExchange(pty, quick ? 20 : 200);
      if (report.syscalls.empty()) std::cerr << "kestova_bench: cannot trace a child; no system-call counts\n";
    }
    if (wanted("paced")) {
      std::cerr << "paced round trips...\n";
      kestova::bench::PacedOptions paced;
      paced.log_folder = log_folder;
      if (quick) {
        paced.block_budget = std::chrono::milliseconds(200);
        paced.min_runs = 1;
      }
      report.paced = kestova::bench::MeasurePacedRoundTrips(paced);
    }
    if (wanted("codec")) {
      std::cerr << "codec...\n";
      report.codec = kestova::bench::RunCodecBenchmarks();
    }
    if (wanted("pty")) {
      std::cerr << "pseudo-terminal round trips...\n";
      report.pty = kestova::bench::MeasurePtyRoundTrips(pty);
    }
    if (wanted("python")) {
      std::cerr << "Python beside C++...\n";
      report.python = kestova::bench::MeasurePythonRoundTrip(pty);
    }

    kestova::bench::PrintReport(std::cout, report);
  } catch (const std::exception& error) {
    std::cerr << "kestova_bench: " << error.what() << "\n";
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(log_folder, ignored);
  benchmark::Shutdown();
  return status;
}
