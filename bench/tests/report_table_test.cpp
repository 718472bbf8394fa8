#include "bench/report_table.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestova::bench {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

LatencySamples Samples(std::initializer_list<microseconds> values) {
  LatencySamples samples;
  for (const auto value : values) samples.Add(value);
  return samples;
}

PtyRoundTripRow PtyRow(const char* name, microseconds floor, microseconds ours) {
  PtyRoundTripRow row;
  row.transaction = name;
  row.floor = Samples({floor, floor, floor});
  row.control_plc = Samples({ours, ours, ours});
  row.control_echo = Samples({ours, ours, ours});
  return row;
}

PacedRow Paced(const char* settings, const char* name, milliseconds wire, milliseconds measured,
               double blocking_cpu, double spinning_cpu) {
  PacedRow row;
  row.settings = settings;
  row.transaction = name;
  row.wire_time = wire;
  row.blocking = Samples({measured});
  row.spinning = Samples({measured});
  row.floor = Samples({measured});
  const auto wall = std::chrono::nanoseconds(std::chrono::seconds(1));
  row.blocking_cpu = CpuShare{std::chrono::nanoseconds(static_cast<std::int64_t>(blocking_cpu * 1e9)), wall};
  row.spinning_cpu = CpuShare{std::chrono::nanoseconds(static_cast<std::int64_t>(spinning_cpu * 1e9)), wall};
  return row;
}

std::string Line(const std::string& text, const std::string& start) {
  const auto at = text.find(start);
  if (at == std::string::npos) return "(no line starting " + start + ")";
  return text.substr(at, text.find('\n', at) - at);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(PrintReport, JudgesEveryTargetAgainstItsLimit) {
  struct Row {
    const char* what;
    microseconds small_read;  // ours, against a 10 µs floor
    microseconds large_read;
    milliseconds paced;       // against 100 ms of wire time
    double blocking_cpu;      // against a spinning wait using the whole second
    double codec_ns_per_frame;  // for 1940 bytes
    double syscalls;            // against 4 for the floor
    bool met;
  };
  const Row rows[] = {
      {"just inside every limit", microseconds(12), microseconds(12), milliseconds(105), 0.019,
       1940 * 19.9, 5.0, true},
      {"just outside every limit", microseconds(13), microseconds(13), milliseconds(106), 0.021,
       1940 * 20.1, 5.1, false},
  };
  for (const Row& row : rows) {
    BenchReport report;
    report.codec.measured = true;
    report.codec.read_answer = CodecFigure{1940, row.codec_ns_per_frame};
    report.codec.read_floor = CodecFigure{1940, 40};
    report.codec.build_block_write = CodecFigure{986, 2600};
    report.codec.build_floor = CodecFigure{986, 20};
    report.pty = {PtyRow("ReadD(0, 1)", microseconds(10), row.small_read),
                  PtyRow("ReadD(0, 480)", microseconds(10), row.large_read)};
    report.paced = {Paced("115200,o,8,1", "ReadD(0, 480)", milliseconds(100), row.paced,
                          row.blocking_cpu, 1.0)};
    report.syscalls = {{"ReadD(0, 1)", 4.0, row.syscalls}, {"ReadD(0, 480)", 4.0, row.syscalls}};
    std::ostringstream out;
    PrintReport(out, report);
    const std::string text = out.str();
    const std::string verdict = row.met ? "| met |" : "| NOT met |";
    for (const char* start : {"| Pseudo-terminal round trip, ReadD(0, 1),",
                              "| Pseudo-terminal round trip, ReadD(0, 480),",
                              "| Paced 480-word read at 115200,o,8,1", "| CPU while waiting, all paced rows",
                              "| CPU while waiting, 115200,o,8,1", "| Codec: read",
                              "| System calls per exchange, ReadD(0, 1)", "| System calls per exchange, ReadD(0, 480)"}) {
      EXPECT_TRUE(EndsWith(Line(text, start), verdict)) << row.what << ": " << Line(text, start);
    }
  }
}

TEST(PrintReport, LeavesOutWhatWasNotMeasured) {
  BenchReport report;
  std::ostringstream out;
  PrintReport(out, report);
  for (const char* section : {"Codec", "Pseudo-terminal", "Paced", "CPU", "System calls"}) {
    EXPECT_EQ(out.str().find(section), std::string::npos) << section;
  }
}

TEST(CpuShare, IsCpuOverWall) {
  EXPECT_DOUBLE_EQ((CpuShare{milliseconds(25), milliseconds(100)}.Fraction()), 0.25);
  EXPECT_DOUBLE_EQ((CpuShare{milliseconds(25), milliseconds(0)}.Fraction()), 0.0);
}

}  // namespace
}  // namespace kestova::bench
