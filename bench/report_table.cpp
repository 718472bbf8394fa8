#include "bench/report_table.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace kestova::bench {
namespace {

// The targets the figures are judged against.
constexpr double kReadFloorRatio = 1.2;
constexpr double kSyscallsOverFloor = 1.0;
constexpr double kPacedWireRatio = 1.05;
constexpr double kCpuShareOfSpinning = 0.02;
constexpr double kCodecNsPerByte = 20.0;
constexpr double kPythonCppRatio = 1.2;
constexpr std::string_view kFastLine = "115200,o,8,1";

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Micros(std::chrono::nanoseconds value) {
  return Fixed(static_cast<double>(value.count()) / 1e3, 1);
}

std::string Millis(std::chrono::nanoseconds value) {
  return Fixed(static_cast<double>(value.count()) / 1e6, 2);
}

std::string Percent(double fraction) { return Fixed(fraction * 100.0, 2) + " %"; }

std::string Verdict(bool met) { return met ? "met" : "NOT met"; }

void PrintCodec(std::ostream& out, const CodecFigures& codec) {
  out << "### 1. Codec (Google Benchmark)\n\n"
      << "| Operation | Bytes | ns/frame | ns/byte | MB/s | Plain copy ns/frame | Copy MB/s | Ours / copy |\n"
      << "|---|---:|---:|---:|---:|---:|---:|---:|\n";
  const auto line = [&out](const char* name, const CodecFigure& ours, const CodecFigure& floor) {
    out << "| " << name << " | " << ours.bytes << " | " << Fixed(ours.ns_per_frame, 0) << " | "
        << Fixed(ours.NsPerByte(), 2) << " | " << Fixed(ours.BytesPerSecond() / 1e6, 1) << " | "
        << Fixed(floor.ns_per_frame, 0) << " | " << Fixed(floor.BytesPerSecond() / 1e6, 1) << " | "
        << Fixed(ours.ns_per_frame / floor.ns_per_frame, 1) << "x |\n";
  };
  line("Build 480-word block-write frame", codec.build_block_write, codec.build_floor);
  line("Read 1940-byte answer (data all 0x10)", codec.read_answer, codec.read_floor);
  out << "\n";
}

double MedianRatio(const LatencySamples& ours, const LatencySamples& baseline) {
  const auto base = baseline.Percentile(0.5);
  if (base <= std::chrono::nanoseconds::zero()) return 0.0;
  return static_cast<double>(ours.Percentile(0.5).count()) / static_cast<double>(base.count());
}

const SyscallCounts* CountsFor(const std::vector<SyscallCounts>& counts, const std::string& transaction) {
  for (const SyscallCounts& c : counts) {
    if (c.transaction == transaction) return &c;
  }
  return nullptr;
}

void PrintPty(std::ostream& out, const std::vector<PtyRoundTripRow>& rows,
              const std::vector<SyscallCounts>& syscalls) {
  out << "### 2. Round trip over a pseudo-terminal, virtual PLC answering at once\n\n"
      << "Echo floor: the same request and answer bytes through a bare client and an echo peer "
         "with no framing. Control vs echo: the control against that echo peer, so the "
         "virtual PLC's own time is left out. Blocks of each kind alternate in one run. System "
         "calls: per exchange of the floor's client and of the control, counted with ptrace in "
         "a child process that runs the same exchanges, the far ends answering 2 ms late.\n\n"
      << "| Transaction | Wire bytes (req + ans) | Echo floor tx/s | Floor mean µs | Floor p99 µs "
         "| Ours tx/s | Ours mean µs | Ours p99 µs | Ours / floor (mean) | Ours / floor (median) "
         "| Control vs echo mean µs | Control vs echo / floor (mean) | (median) "
         "| Floor system calls | Our system calls |\n"
      << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const PtyRoundTripRow& row : rows) {
    out << "| " << row.transaction << " | " << row.request_bytes << " + " << row.answer_bytes
        << " | " << Fixed(row.floor.PerSecond(), 0) << " | " << Micros(row.floor.Mean()) << " | "
        << Micros(row.floor.Percentile(0.99)) << " | " << Fixed(row.control_plc.PerSecond(), 0)
        << " | " << Micros(row.control_plc.Mean()) << " | "
        << Micros(row.control_plc.Percentile(0.99)) << " | "
        << Fixed(MeanRatio(row.control_plc, row.floor), 2) << "x | "
        << Fixed(MedianRatio(row.control_plc, row.floor), 2) << "x | "
        << Micros(row.control_echo.Mean()) << " | "
        << Fixed(MeanRatio(row.control_echo, row.floor), 2) << "x | "
        << Fixed(MedianRatio(row.control_echo, row.floor), 2) << "x | ";
    const SyscallCounts* counts = CountsFor(syscalls, row.transaction);
    out << (counts ? Fixed(counts->floor, 1) : "-") << " | " << (counts ? Fixed(counts->ours, 1) : "-") << " |\n";
  }
  out << "\n";
}

double PacedRatio(const LatencySamples& samples, std::chrono::nanoseconds wire) {
  return static_cast<double>(samples.Mean().count()) / static_cast<double>(wire.count());
}

void PrintPaced(std::ostream& out, const std::vector<PacedRow>& rows) {
  out << "### 3. Round trip with the virtual PLC paced at the baud rate\n\n"
      << "The virtual PLC writes its answer at the line's pace; the request reaches it through "
         "a relay that holds each chunk for its wire time, as the line would. Wire time: "
         "request and answer characters of start, data, parity and stop bits. The bare "
         "client sends the same bytes through the same relay and PLC with no control: the "
         "rig's own share.\n\n"
      << "| Line | Transaction | Wire bytes | Wire time ms | Measured mean ms | p99 ms "
         "| Measured / wire | Bare client mean ms | Bare client / wire | Spinning mean ms |\n"
      << "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const PacedRow& row : rows) {
    out << "| " << row.settings << " | " << row.transaction << " | " << row.wire_bytes << " | "
        << Millis(row.wire_time) << " | " << Millis(row.blocking.Mean()) << " | "
        << Millis(row.blocking.Percentile(0.99)) << " | "
        << Fixed(PacedRatio(row.blocking, row.wire_time), 3) << " | "
        << Millis(row.floor.Mean()) << " | " << Fixed(PacedRatio(row.floor, row.wire_time), 3)
        << " | " << Millis(row.spinning.Mean()) << " |\n";
  }
  out << "\n### 4. CPU while waiting: process CPU time / wall time during item 3\n\n"
      << "The virtual PLC and the relay run in a child process, so the process CPU time is "
         "the control's alone.\n\n"
      << "| Line | Transaction | Blocking wait | Spinning wait | Blocking / spinning "
         "| Blocking CPU µs per transaction | Spinning CPU µs per transaction |\n"
      << "|---|---|---:|---:|---:|---:|---:|\n";
  for (const PacedRow& row : rows) {
    const double spinning = row.spinning_cpu.Fraction();
    const auto per_transaction = [](const CpuShare& share, const LatencySamples& samples) {
      if (samples.count() == 0) return std::string("-");
      return Micros(share.cpu / static_cast<std::int64_t>(samples.count()));
    };
    out << "| " << row.settings << " | " << row.transaction << " | "
        << Percent(row.blocking_cpu.Fraction()) << " | " << Percent(spinning) << " | "
        << (spinning > 0.0 ? Percent(row.blocking_cpu.Fraction() / spinning) : "-") << " | "
        << per_transaction(row.blocking_cpu, row.blocking) << " | "
        << per_transaction(row.spinning_cpu, row.spinning) << " |\n";
  }
  out << "\n";
}

void PrintPython(std::ostream& out, const PythonRoundTrip& python) {
  out << "### 5. Python: read(\"D0\", 1) through the module beside the same call from C++\n\n"
      << "Each against a virtual PLC of its own on a pseudo-terminal, at the settings of item 2; "
         "the script times the call itself, the C++ side times Tarvane::Read and the image "
         "read into a vector. Single calls of each kind alternate in one run.\n\n"
      << "| Caller | Calls | Mean µs | Median µs | p99 µs |\n|---|---:|---:|---:|---:|\n";
  const auto line = [&out](const char* caller, const LatencySamples& samples) {
    out << "| " << caller << " | " << samples.count() << " | " << Micros(samples.Mean()) << " | "
        << Micros(samples.Percentile(0.5)) << " | " << Micros(samples.Percentile(0.99)) << " |\n";
  };
  line("C++", python.cpp);
  line("Python", python.python);
  out << "\n";
}

// The one table: each headline figure beside its baseline, the ratio, the target and
// whether this run met it. The item tables below it hold the detail.
void PrintSummary(std::ostream& out, const BenchReport& report) {
  out << "### Summary: each figure beside its baseline\n\n"
      << "| Figure | Ours | Baseline | Ours / baseline | Target | This run |\n"
      << "|---|---:|---:|---:|---|---|\n";
  const auto row = [&out](const std::string& figure, const std::string& ours,
                          const std::string& baseline, const std::string& ratio,
                          const std::string& target, const std::string& verdict) {
    out << "| " << figure << " | " << ours << " | " << baseline << " | " << ratio << " | "
        << target << " | " << verdict << " |\n";
  };

  if (report.codec.measured) {
    const CodecFigures& codec = report.codec;
    const double per_byte = codec.read_answer.NsPerByte();
    row("Codec: read the 1940-byte answer, ns/byte", Fixed(per_byte, 2),
        Fixed(codec.read_floor.NsPerByte(), 3) + " (plain copy)",
        Fixed(codec.read_answer.ns_per_frame / codec.read_floor.ns_per_frame, 1) + "x",
        "under " + Fixed(kCodecNsPerByte, 0) + " ns/byte", Verdict(per_byte < kCodecNsPerByte));
    row("Codec: build the 480-word block-write frame, ns/byte",
        Fixed(codec.build_block_write.NsPerByte(), 2),
        Fixed(codec.build_floor.NsPerByte(), 3) + " (plain copy)",
        Fixed(codec.build_block_write.ns_per_frame / codec.build_floor.ns_per_frame, 1) + "x", "-", "-");
  }

  // Judged on the medians: on a shared machine a few preempted exchanges swing a mean
  // either way (the mean ratios stay in the item table).
  for (const PtyRoundTripRow& pty : report.pty) {
    std::string target = "-";
    std::string verdict = "-";
    const double ratio = MedianRatio(pty.control_plc, pty.floor);
    const bool judged = pty.transaction == "ReadD(0, 1)" || pty.transaction == "ReadD(0, 480)";
    if (judged) {
      target = "within " + Fixed(kReadFloorRatio, 2) + "x";
      verdict = Verdict(ratio <= kReadFloorRatio);
    }
    row("Pseudo-terminal round trip, " + pty.transaction + ", median µs",
        Micros(pty.control_plc.Percentile(0.5)), Micros(pty.floor.Percentile(0.5)) + " (echo floor)",
        Fixed(ratio, 2) + "x", target, verdict);
  }
  for (const SyscallCounts& counts : report.syscalls) {
    const bool judged = counts.transaction == "ReadD(0, 1)" || counts.transaction == "ReadD(0, 480)";
    const double over = counts.ours - counts.floor;
    row("System calls per exchange, " + counts.transaction, Fixed(counts.ours, 1),
        Fixed(counts.floor, 1) + " (echo floor)", (over >= 0 ? "+" : "") + Fixed(over, 1),
        judged ? "at most floor + " + Fixed(kSyscallsOverFloor, 0) : "-",
        judged ? Verdict(over <= kSyscallsOverFloor + 1e-9) : "-");
  }

  for (const PacedRow& paced : report.paced) {
    if (paced.transaction != "ReadD(0, 480)") continue;
    const double ratio = PacedRatio(paced.blocking, paced.wire_time);
    const bool judged = paced.settings == kFastLine;
    row("Paced 480-word read at " + paced.settings + ", mean ms", Millis(paced.blocking.Mean()),
        Millis(paced.wire_time) + " (wire time)", Fixed(ratio, 3) + "x",
        judged ? "within " + Fixed(kPacedWireRatio, 2) + "x" : "-",
        judged ? Verdict(ratio <= kPacedWireRatio) : "-");
  }

  if (report.python.measured) {
    const double ratio = MedianRatio(report.python.python, report.python.cpp);
    row("Python read D0,1, median µs", Micros(report.python.python.Percentile(0.5)),
        Micros(report.python.cpp.Percentile(0.5)) + " (the same call from C++)", Fixed(ratio, 2) + "x",
        "within " + Fixed(kPythonCppRatio, 2) + "x", Verdict(ratio <= kPythonCppRatio));
  } else if (!report.python.skipped.empty()) {
    row("Python read D0,1", "-", "-", "-", "within " + Fixed(kPythonCppRatio, 2) + "x",
        "not measured: " + report.python.skipped);
  }

  // All paced rows together, then each line setting on its own: the per-character
  // wake-ups that cost CPU grow with the baud rate.
  std::vector<std::string> groups{""};
  for (const PacedRow& paced : report.paced) {
    if (std::find(groups.begin(), groups.end(), paced.settings) == groups.end()) {
      groups.push_back(paced.settings);
    }
  }
  for (const std::string& group : groups) {
    CpuShare blocking;
    CpuShare spinning;
    for (const PacedRow& paced : report.paced) {
      if (!group.empty() && paced.settings != group) continue;
      blocking.cpu += paced.blocking_cpu.cpu;
      blocking.wall += paced.blocking_cpu.wall;
      spinning.cpu += paced.spinning_cpu.cpu;
      spinning.wall += paced.spinning_cpu.wall;
    }
    if (spinning.Fraction() <= 0.0) continue;
    const double share = blocking.Fraction() / spinning.Fraction();
    row("CPU while waiting, " + (group.empty() ? std::string("all paced rows") : group) +
            ", CPU / wall",
        Percent(blocking.Fraction()), Percent(spinning.Fraction()) + " (spinning wait)",
        Percent(share), "under " + Percent(kCpuShareOfSpinning), Verdict(share < kCpuShareOfSpinning));
  }
  out << "\n";
}

}  // namespace

void PrintReport(std::ostream& out, const BenchReport& report) {
  out << "## Kestova benchmarks\n\nMachine: " << report.machine << "\n\n";
  PrintSummary(out, report);
  if (report.codec.measured) PrintCodec(out, report.codec);
  if (!report.pty.empty()) PrintPty(out, report.pty, report.syscalls);
  if (!report.paced.empty()) PrintPaced(out, report.paced);
  if (report.python.measured) PrintPython(out, report.python);
}

}  // namespace kestova::bench
