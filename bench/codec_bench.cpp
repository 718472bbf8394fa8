#include "bench/codec_bench.h"

#include <benchmark/benchmark.h>

#include <map>
#include <stdexcept>
#include <vector>

#include "bench/bench_transactions.h"
#include "link/answer_reader.h"
#include "link/frame.h"
#include "sim/station.h"

namespace kestova::bench {
namespace {

constexpr std::size_t kAnswerSlack = 32;  // the room the exchange gives an answer

const Request& BlockWriteRequest() { return StandardTransactions().back().request; }

// 480 words of 0x1010: every data byte doubled on the wire, 1940 bytes with the sum check.
std::vector<std::uint8_t> AllDleAnswer() {
  sim::Answer answer;
  answer.routing = {0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00};
  answer.data.assign(960, 0x10);
  return sim::EncodeAnswer(answer, true);
}

void BuildBlockWriteFrame(benchmark::State& state) {
  const Request& request = BlockWriteRequest();
  const Routing routing;
  std::size_t bytes = 0;
  for (auto _ : state) {
    WireFrame frame = BuildFrame(request, routing, true);
    bytes = frame.bytes.size();
    benchmark::DoNotOptimize(frame.bytes.data());
    benchmark::DoNotOptimize(frame.text.data());
  }
  state.counters["frame_bytes"] = static_cast<double>(bytes);
}

void CopyBlockWriteFrame(benchmark::State& state) {
  const std::vector<std::uint8_t> wire = BuildFrame(BlockWriteRequest(), Routing{}, true).bytes;
  for (auto _ : state) {
    std::vector<std::uint8_t> copy(wire);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.counters["frame_bytes"] = static_cast<double>(wire.size());
}

void ReadAllDleAnswer(benchmark::State& state) {
  const std::vector<std::uint8_t> wire = AllDleAnswer();
  const std::size_t expected = 18 + 960 + 2;
  for (auto _ : state) {
    AnswerReader reader(true, expected + kAnswerSlack);
    reader.Feed(wire);
    if (!reader.complete() || reader.image().size() != expected) {
      state.SkipWithError("the answer reader did not take the whole answer");
      break;
    }
    benchmark::DoNotOptimize(reader.image().data());
  }
  state.counters["frame_bytes"] = static_cast<double>(wire.size());
}

void CopyAllDleAnswer(benchmark::State& state) {
  const std::vector<std::uint8_t> wire = AllDleAnswer();
  for (auto _ : state) {
    std::vector<std::uint8_t> copy(wire);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.counters["frame_bytes"] = static_cast<double>(wire.size());
}

// Keeps the figures instead of printing them; the table prints them all together.
class CollectingReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      if (run.error_occurred) {
        errors_ += run.benchmark_name() + ": " + run.error_message + "\n";
        continue;
      }
      CodecFigure figure;
      figure.ns_per_frame = run.GetAdjustedRealTime();
      const auto bytes = run.counters.find("frame_bytes");
      if (bytes != run.counters.end()) figure.bytes = static_cast<std::size_t>(bytes->second.value);
      figures_[run.run_name.function_name] = figure;
    }
  }

  const std::string& errors() const { return errors_; }

  CodecFigure Take(const std::string& name) const {
    const auto found = figures_.find(name);
    if (found == figures_.end()) throw std::runtime_error("codec benchmark " + name + " did not run");
    return found->second;
  }

 private:
  std::map<std::string, CodecFigure> figures_;
  std::string errors_;
};

}  // namespace

CodecFigures RunCodecBenchmarks() {
  benchmark::RegisterBenchmark("BuildBlockWriteFrame", BuildBlockWriteFrame)->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("CopyBlockWriteFrame", CopyBlockWriteFrame)->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("ReadAllDleAnswer", ReadAllDleAnswer)->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("CopyAllDleAnswer", CopyAllDleAnswer)->Unit(benchmark::kNanosecond);

  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::ClearRegisteredBenchmarks();
  if (!reporter.errors().empty()) throw std::runtime_error(reporter.errors());

  return CodecFigures{true, reporter.Take("BuildBlockWriteFrame"),
                      reporter.Take("CopyBlockWriteFrame"), reporter.Take("ReadAllDleAnswer"),
                      reporter.Take("CopyAllDleAnswer")};
}

}  // namespace kestova::bench
