#pragma once
// One exchange: port check, build, drop stale input, send in one Output, drain, wait for
// a complete answer frame with the time-out, judge, log, flush. Every operation of the
// control runs through RunExchange; what differs between them is in ExchangePlan.
//
// Results: 0 answer with end code 0 (unpack has run); 1 closed port, time-out, sum-check
// error or answer length error; otherwise the end code. Events are raised through
// LinkEnvironment::raise, never during the wait itself.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "link/clock.h"
#include "link/frame.h"
#include "link/serial_port.h"

namespace kestova {

// What the link remembers of the line between exchanges. Its owner keeps one per port and
// hands it to every exchange; only the exchange reads or changes it.
class LineState {
 public:
  // Whether the last exchange ended without an answer it accepted, so that answer may
  // still be on its way.
  bool unsettled() const { return unsettled_; }

 private:
  friend class Exchange;
  bool unsettled_ = false;
};

struct LinkEnvironment {
  SerialPort& port;
  Clock& clock;
  std::filesystem::path log_folder;
  std::function<void(const std::string&)> raise;  // MelsecOut
  LineState& line;
};

struct ExchangeSettings {
  Routing routing;
  bool sum_check = false;
  std::int16_t timeout_seconds = 3;
};

struct ExchangePlan {
  // The name in error and refusal records: "ReadWord", "WriteSingleWord", ...
  std::string operation;
  // The time-out record's text after the timestamp: "WriteSingleWord Time Out", ...
  std::string timeout_log_text;
  // Set for the batch read: its records carry "DeviceCode = ", the print-zone padding
  // and the "InBuffer = " line, and its time-out event counts the seconds.
  std::optional<std::uint8_t> read_device_code;
  // Expected de-stuffed answer length without the sum characters (18 + 2 x points for a
  // read, 18 for the others); two more with the sum check.
  int answer_length_without_sum = 18;
  // Called after the port check, so its Overflow / Subscript errors come after it.
  std::function<Request()> build_request;
  // Called with the response data (image positions 16 .. E - 1) when the end code is 0.
  std::function<void(std::span<const std::uint8_t>)> unpack;
};

std::int16_t RunExchange(const LinkEnvironment& env, const ExchangeSettings& settings,
                         const ExchangePlan& plan);

}  // namespace kestova
