#include "bench/paced_round_trip.h"

#include <algorithm>

#include "bench/bench_control.h"
#include "bench/bench_transactions.h"
#include "bench/floor_client.h"
#include "bench/plc_process.h"
#include "bench/wire_time.h"

namespace kestova::bench {
namespace {

// Long enough for a 480-word block write at 9600 baud, however the PLC paces the request.
constexpr std::int16_t kTimeoutSeconds = 10;

int RunsFor(std::chrono::nanoseconds wire_time, const PacedOptions& options) {
  const auto budget = std::chrono::duration_cast<std::chrono::nanoseconds>(options.block_budget);
  const auto runs = wire_time.count() > 0 ? budget / wire_time : options.max_runs;
  return static_cast<int>(std::clamp<std::int64_t>(runs, options.min_runs, options.max_runs));
}

void MeasureBlock(BenchControl& control, const BenchTransaction& transaction, int runs,
                  LatencySamples& samples, CpuShare& cpu) {
  control.Open();
  control.Run(transaction);  // warm-up: the first exchange after opening settles the line
  const ProcessCpuMeter meter;
  for (int k = 0; k < runs; ++k) samples.Add(control.Run(transaction));
  const CpuShare share = meter.Read();
  cpu.cpu += share.cpu;
  cpu.wall += share.wall;
  control.Close();
}

// The floor client opens the terminal only while no control holds it.
void MeasureFloor(const std::string& path, const WireExchange& wire, int runs,
                  LatencySamples& samples) {
  FloorClient client(path);
  client.RoundTrip(wire.request, wire.answer.size(), std::chrono::seconds(kTimeoutSeconds));
  for (int k = 0; k < runs; ++k) {
    const auto start = std::chrono::steady_clock::now();
    client.RoundTrip(wire.request, wire.answer.size(), std::chrono::seconds(kTimeoutSeconds));
    samples.Add(std::chrono::steady_clock::now() - start);
  }
}

}  // namespace

std::vector<PacedRow> MeasurePacedRoundTrips(const PacedOptions& options) {
  std::vector<PacedRow> rows;
  for (const std::string& settings : options.settings) {
    PlcProcess plc(PlcConfig{options.sum_check, true, settings});
    // One port at a time may hold the terminal, so the two controls take turns.
    BenchControl blocking(plc.path(), settings, options.sum_check, WaitStyle::Blocking,
                          options.log_folder);
    BenchControl spinning(plc.path(), settings, options.sum_check, WaitStyle::Spinning,
                          options.log_folder);
    blocking.SetTimeout(kTimeoutSeconds);
    spinning.SetTimeout(kTimeoutSeconds);
    for (const BenchTransaction& transaction : StandardTransactions()) {
      PacedRow row;
      row.settings = settings;
      row.transaction = transaction.name;
      const WireExchange wire = WireBytesOf(transaction, options.sum_check);
      row.wire_bytes = wire.total();
      row.wire_time = WireTime(row.wire_bytes, settings);
      const int runs = RunsFor(row.wire_time, options);
      MeasureFloor(plc.path(), wire, runs, row.floor);
      MeasureBlock(blocking, transaction, runs, row.blocking, row.blocking_cpu);
      MeasureBlock(spinning, transaction, runs, row.spinning, row.spinning_cpu);
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

}  // namespace kestova::bench
