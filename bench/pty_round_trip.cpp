#include "bench/pty_round_trip.h"

#include <functional>

#include "bench/bench_control.h"
#include "bench/bench_transactions.h"
#include "bench/echo_peer.h"
#include "bench/floor_client.h"
#include "sim/virtual_plc.h"

namespace kestova::bench {
namespace {

// Enough exchanges to bring idle cores out of their deep sleep states before measuring.
constexpr int kWarmUpRuns = 50;

}  // namespace

std::vector<PtyRoundTripRow> MeasurePtyRoundTrips(const PtyRoundTripOptions& options) {
  // Both far ends serve from threads of this process, so neither pays for a switch
  // between processes that the other does not.
  sim::VirtualPlc::Options plc_options;
  plc_options.sum_check = options.sum_check;
  sim::VirtualPlc plc(plc_options);
  const std::string plc_path = plc.Start();
  EchoPeer echo;
  FloorClient floor(echo.slave_path());
  BenchControl against_plc(plc_path, options.settings, options.sum_check, WaitStyle::Blocking,
                           options.log_folder);
  BenchControl against_echo(echo.slave_path(), options.settings, options.sum_check,
                            WaitStyle::Blocking, options.log_folder);
  against_plc.Open();
  against_echo.Open();

  const std::vector<BenchTransaction>& transactions = StandardTransactions();
  std::vector<PtyRoundTripRow> rows;
  std::vector<WireExchange> wires;
  for (const BenchTransaction& transaction : transactions) {
    wires.push_back(WireBytesOf(transaction, options.sum_check));
    PtyRoundTripRow row;
    row.transaction = transaction.name;
    row.request_bytes = wires.back().request.size();
    row.answer_bytes = wires.back().answer.size();
    rows.push_back(std::move(row));
  }

  for (std::size_t t = 0; t < transactions.size(); ++t) {
    echo.SetExchange(wires[t].request.size(), wires[t].answer);
    for (int k = 0; k < kWarmUpRuns; ++k) {
      floor.RoundTrip(wires[t].request, wires[t].answer.size());
      against_echo.Run(transactions[t]);
      against_plc.Run(transactions[t]);
    }
  }

  for (int round = 0; round < options.rounds; ++round) {
    for (std::size_t t = 0; t < transactions.size(); ++t) {
      const BenchTransaction& transaction = transactions[t];
      const WireExchange& wire = wires[t];
      PtyRoundTripRow& row = rows[t];
      echo.SetExchange(wire.request.size(), wire.answer);

      const std::function<void()> blocks[] = {
          [&] {
            for (int k = 0; k < options.per_block; ++k) {
              const auto start = std::chrono::steady_clock::now();
              floor.RoundTrip(wire.request, wire.answer.size());
              row.floor.Add(std::chrono::steady_clock::now() - start);
            }
          },
          [&] {
            for (int k = 0; k < options.per_block; ++k) row.control_echo.Add(against_echo.Run(transaction));
          },
          [&] {
            for (int k = 0; k < options.per_block; ++k) row.control_plc.Add(against_plc.Run(transaction));
          },
      };
      // Rotated each round, so no kind always runs first after the switch of transaction.
      constexpr int kKinds = 3;
      for (int b = 0; b < kKinds; ++b) blocks[(b + round) % kKinds]();
    }
  }
  return rows;
}

}  // namespace kestova::bench
