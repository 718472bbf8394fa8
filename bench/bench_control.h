#pragma once
// A control as an application would hold one, opened on a terminal path, with either the
// library's blocking wait or the spinning baseline under it. A transaction that does not
// end with result 0 stops the run: a figure taken over failures would mean nothing.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/bench_transactions.h"
#include "control/plain_host.h"
#include "kestova/tarvane.h"

namespace kestova::bench {

enum class WaitStyle { Blocking, Spinning };

class BenchControl {
 public:
  // The port stays closed until Open(). Error records go to `log_folder`.
  BenchControl(const std::string& path, const std::string& settings, bool sum_check,
               WaitStyle wait, const std::filesystem::path& log_folder);

  void Open();
  void Close();
  void SetTimeout(std::int16_t seconds);

  // Runs the transaction once and returns its wall time. Throws std::runtime_error
  // naming the transaction and the control's last message on a result other than 0.
  std::chrono::nanoseconds Run(const BenchTransaction& transaction);

 private:
  PlainHost host_;
  std::string last_message_;
  std::unique_ptr<Tarvane> control_;
};

}  // namespace kestova::bench
