#include "bench/bench_control.h"

#include <stdexcept>

#include "bench/spinning_port.h"
#include "link/platform_port.h"

namespace kestova::bench {

BenchControl::BenchControl(const std::string& path, const std::string& settings,
                           bool sum_check, WaitStyle wait,
                           const std::filesystem::path& log_folder) {
  host_.SetLogFolder(log_folder);
  host_.AddMelsecOutHandler([this](std::string& text) { last_message_ = text; });
  std::unique_ptr<SerialPort> port = MakePlatformSerialPort(path);
  if (wait == WaitStyle::Spinning) port = std::make_unique<SpinningSerialPort>(std::move(port));
  control_ = std::make_unique<Tarvane>(host_, std::move(port));
  control_->InitProperties();
  control_->SetSettings(settings);
  control_->SetSumCheck(sum_check);
}

void BenchControl::Open() { control_->SetPortOpen(true); }

void BenchControl::Close() { control_->SetPortOpen(false); }

void BenchControl::SetTimeout(std::int16_t seconds) { control_->SetTimeout(seconds); }

std::chrono::nanoseconds BenchControl::Run(const BenchTransaction& transaction) {
  last_message_.clear();
  const auto start = std::chrono::steady_clock::now();
  const std::int16_t result = transaction.run(*control_);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  if (result != 0) {
    throw std::runtime_error(transaction.name + " returned " + std::to_string(result) +
                             (last_message_.empty() ? "" : " (" + last_message_ + ")"));
  }
  return elapsed;
}

}  // namespace kestova::bench
