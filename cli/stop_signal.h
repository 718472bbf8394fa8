#pragma once
// Ctrl-C (and a polite kill) as something a loop can wait on: the long-running commands
// (watch, simulate) wait between their steps here, so an interrupt ends the wait at once
// and the command winds down normally, closing its port, instead of dying mid-exchange.
//
// Signal handlers are process-wide, so at most one StopSignal exists at a time; the
// previous handlers come back when it is destroyed.

#include <chrono>
#include <memory>

namespace kestova::cli {

class StopSignal {
 public:
  StopSignal();  // throws std::logic_error when another one is installed
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Blocks until an interrupt or until `timeout` has passed; true when interrupted
  // (now or earlier). A negative timeout waits for the interrupt alone.
  bool WaitFor(std::chrono::milliseconds timeout);
  bool WaitForever() { return WaitFor(std::chrono::milliseconds(-1)); }

 private:
  struct Platform;
  std::unique_ptr<Platform> platform_;
  bool raised_ = false;
};

}  // namespace kestova::cli
