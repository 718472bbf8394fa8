#include "bench/python_round_trip.h"

#include <benchmark/benchmark.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/platform_port.h"
#include "sim/virtual_plc.h"

extern char** environ;

namespace kestova::bench {
namespace {

constexpr int kWarmUpRuns = 50;

// Reads a count per line from standard input, answers with that many call times in ns.
// Its virtual PLC serves from a thread of its own process, as the C++ side's does.
constexpr const char* kScript = R"(
import sys, time, kestova
settings, sum_check, log_dir = sys.argv[1:4]
plc = kestova.VirtualPlc(sum_check=sum_check == "1")
control = kestova.Tarvane(plc.start(), settings=settings, sum_check=sum_check == "1", log_dir=log_dir)
control.open()
print("ready", flush=True)
for line in sys.stdin:
    times = []
    for _ in range(int(line)):
        start = time.perf_counter_ns()
        control.read("D0", 1)
        times.append(time.perf_counter_ns() - start)
    print(*times, flush=True)
)";

class PythonChild {
 public:
  PythonChild(const std::string& python, const std::string& module_dir, std::vector<std::string> arguments) {
    int to_child[2];
    int from_child[2];
    if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }

    std::vector<std::string> texts{python, "-c", kScript};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment{"PYTHONPATH=" + module_dir};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::strncmp(*entry, "PYTHONPATH=", 11) != 0) environment.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const int failed = ::posix_spawnp(&pid_, python.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(to_child[0]);
    ::close(from_child[1]);
    if (failed != 0) {
      ::close(to_child[1]);
      ::close(from_child[0]);
      throw std::runtime_error("cannot start " + python + ": " + std::strerror(failed));
    }
    to_ = ::fdopen(to_child[1], "w");
    from_ = ::fdopen(from_child[0], "r");
    if (ReadLine() != "ready") throw std::runtime_error("the Python child did not start");
  }

  ~PythonChild() {
    if (to_ != nullptr) std::fclose(to_);  // end of input ends the script
    if (from_ != nullptr) std::fclose(from_);
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
  }
  PythonChild(const PythonChild&) = delete;
  PythonChild& operator=(const PythonChild&) = delete;

  void Run(int calls, LatencySamples* samples) {
    std::fprintf(to_, "%d\n", calls);
    std::fflush(to_);
    std::istringstream line(ReadLine());
    long long ns = 0;
    int got = 0;
    while (line >> ns) {
      if (samples != nullptr) samples->Add(std::chrono::nanoseconds(ns));
      ++got;
    }
    if (got != calls) throw std::runtime_error("the Python child failed mid-run");
  }

 private:
  std::string ReadLine() {
    std::string text;
    std::array<char, 4096> chunk{};
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), from_) != nullptr) {
      text += chunk.data();
      if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        return text;
      }
    }
    throw std::runtime_error("the Python child ended early");
  }

  pid_t pid_ = -1;
  std::FILE* to_ = nullptr;
  std::FILE* from_ = nullptr;
};

// Keeps this thread, and the threads and processes it starts, on the processor it runs
// on, restoring the old set at the end. Left to the scheduler, a caller and its virtual
// PLC land on one core in some runs and on two in others, which moves a round trip
// between about 20 and 100 µs whoever the caller is; on one core both sides compare alike.
class OneCore {
 public:
  OneCore() {
    kept_ = ::sched_getaffinity(0, sizeof before_, &before_) == 0;
    const int cpu = ::sched_getcpu();
    if (!kept_ || cpu < 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ::sched_setaffinity(0, sizeof one, &one);
  }
  ~OneCore() {
    if (kept_) ::sched_setaffinity(0, sizeof before_, &before_);
  }
  OneCore(const OneCore&) = delete;
  OneCore& operator=(const OneCore&) = delete;

 private:
  cpu_set_t before_{};
  bool kept_ = false;
};

}  // namespace

PythonRoundTrip MeasurePythonRoundTrip(const PtyRoundTripOptions& options) {
  PythonRoundTrip figures;
#if !defined(KESTOVA_BENCH_PYTHON) || !defined(KESTOVA_BENCH_PYTHON_DIR)
  (void)options;
  figures.skipped = "the build has no Python module";
  return figures;
#elif defined(KESTOVA_BENCH_SANITIZED)
  (void)options;
  figures.skipped = "a sanitized build (run the release build)";
  return figures;
#else
  const OneCore one_core;
  sim::VirtualPlc::Options plc_options;
  plc_options.sum_check = options.sum_check;
  sim::VirtualPlc for_cpp(plc_options);
  const std::string cpp_path = for_cpp.Start();

  PlainHost host;
  host.SetLogFolder(options.log_folder);
  Tarvane control(host, MakePlatformSerialPort(cpp_path));
  control.InitProperties();
  control.SetSettings(options.settings);
  control.SetSumCheck(options.sum_check);
  control.SetPortOpen(true);
  // What the module's read does: the batch read, then the image into a list.
  const auto cpp_read = [&] {
    const auto start = std::chrono::steady_clock::now();
    if (control.Read(DeviceFamily::D, 0, 1) != 0) throw std::runtime_error("C++ read D0,1 failed");
    const std::vector<int> values{control.Image(DeviceFamily::D, 0)};
    const auto elapsed = std::chrono::steady_clock::now() - start;
    benchmark::DoNotOptimize(values.data());
    return std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed);
  };

  PythonChild python(KESTOVA_BENCH_PYTHON, KESTOVA_BENCH_PYTHON_DIR,
                     {options.settings, options.sum_check ? "1" : "0", options.log_folder.string()});
  for (int k = 0; k < kWarmUpRuns; ++k) cpp_read();
  python.Run(kWarmUpRuns, nullptr);

  // One call of each kind at a time, so a burst of load from elsewhere weighs on both
  // alike; the same number of calls as a transaction of item 2.
  const int calls = options.rounds * options.per_block;
  for (int k = 0; k < calls; ++k) {
    if (k % 2 == 0) figures.cpp.Add(cpp_read());
    python.Run(1, &figures.python);
    if (k % 2 == 1) figures.cpp.Add(cpp_read());
  }
  figures.measured = true;
  return figures;
#endif
}

}  // namespace kestova::bench
