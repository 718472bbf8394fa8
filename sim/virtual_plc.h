#pragma once

// The virtual PLC: a QnA/Q-series serial communication module speaking the MC protocol
// in the QnA-compatible 4C frame, format 5 (binary, DLE STX ... DLE ETX, optional sum
// check), answering on a pseudo-terminal or a serial device, and misbehaving on request.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device_memory.h"
#include "sim/end_codes.h"
#include "sim/fault.h"
#include "sim/request.h"
#include "sim/station.h"

namespace kestova::sim {

class VirtualPlc {
 public:
  struct Options {
    bool sum_check = false;
    std::string link_path;                // when set, a symbolic link to the slave is made here
    std::string device;                   // when set, serve this serial device instead of a pty
    bool paced = false;                   // write answers at the speed of `settings`
    std::string settings = "9600,n,8,1";  // baud,parity(n/e/o/m/s),data bits,stop bits
  };

  // Throws std::invalid_argument when options.settings cannot be read.
  VirtualPlc();
  explicit VirtualPlc(Options options);
  ~VirtualPlc();  // Stop()
  VirtualPlc(const VirtualPlc&) = delete;
  VirtualPlc& operator=(const VirtualPlc&) = delete;

  // Opens the pseudo-terminal pair (or the device), starts serving on its own thread and
  // returns the path the control should open (the slave, or the device path). Throws
  // std::system_error when the terminal cannot be made or the link cannot be placed
  // (an existing symbolic link there is replaced, any other file is not),
  // std::invalid_argument for a baud rate a device cannot take, std::logic_error when
  // already started. Start after Stop serves a fresh terminal.
  std::string Start();
  // Stops the thread, closes the terminal and removes the link. Idempotent.
  void Stop();

  // Device memory; safe to use from any thread while serving.
  DeviceMemory& memory();
  CpuState cpu_state() const;
  void set_cpu_state(CpuState state);

  void set_sum_check(bool on);
  bool sum_check() const;
  // Throws std::invalid_argument for settings it cannot read.
  void set_pacing(bool on, std::string settings);

  // Faults apply to requests the station answers (a frame with a well-formed header,
  // sum-check failures included); several active faults combine on one answer.
  // Applies `fault` to each of the next `next_requests` requests.
  void InjectFault(const Fault& fault, int next_requests);
  // Applies `fault` to each request with `probability` (0..1), drawn from a generator
  // seeded with `seed`, so a run can be repeated.
  void InjectFault(const Fault& fault, double probability, std::uint32_t seed);
  void ClearFaults();

  // Every frame received so far (up to the last DLE ETX and sum characters), in order.
  std::vector<ReceivedRequest> requests() const;
  std::size_t request_count() const;
  void ClearRequests();
  // Blocks until request_count() >= n or `timeout` passes; true when reached.
  bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

  // Number of answers fully written to the line (faults included), and a wait for it.
  std::size_t answers_sent() const;
  bool WaitForAnswers(std::size_t n, std::chrono::milliseconds timeout) const;

  // The station without any transport: wire bytes of one request in, answer out.
  Station& station();

 private:
  class Server;
  std::unique_ptr<Server> server_;
};

}  // namespace kestova::sim
