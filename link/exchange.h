#pragma once
// One exchange: port check, build, settle the line, send in one Output, wait for a
// complete answer frame that is ours within the call's budget, judge, log.
// Every operation of the control runs through RunExchange; what differs between them is
// in ExchangePlan.
//
// Results: 0 answer with end code 0 (unpack has run); 1 closed port, time-out, sum-check
// error or answer length error; otherwise the end code. Events are raised through
// LinkEnvironment::raise, never during the wait itself, and always last: the record is
// written and the line's state kept before a handler runs, so a handler may close the
// port or start another call.
//
// Budget: the call starts its clock when it begins; it sends, waits for the line to take
// the frame and waits for the answer until Timeout + 1 s less the fraction of the second
// it began in (whole-second arithmetic), plus the request's own wire time at the current
// settings. A negative Timeout looks once. After an exchange that ended without an
// accepted answer, the request goes out only once the line has been quiet for
// max(0.5 s, the longest wire time of the answer still owed), counted from the later of
// the last byte seen and that exchange's end; what arrives meanwhile is discarded (and
// shown in this call's received text). A line that is not quiet within Timeout + 1 s
// ends the call with its time-out, nothing sent.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "link/automation_error.h"
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
  // While unsettled: the later of the last byte seen and the end of the exchange that
  // left the line unsettled, and how many wire bytes the answer it owes can take.
  MonotonicTime quiet_since_{};
  std::size_t owed_wire_bytes_ = 0;
  // A port error met after the outcome of an exchange was decided; the next call on an
  // open port raises it.
  std::optional<AutomationError> fault_;
  // The port's settings text and its character time, read once per change.
  std::string settings_;
  std::chrono::nanoseconds character_time_{0};
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
  // read, 18 for the others); two more with the sum check. An answer with end code 0 of
  // any other length is refused.
  int answer_length_without_sum = 18;
  // Called after the port check, so its Overflow / Subscript errors come after it.
  std::function<Request()> build_request;
  // Called with the response data (image positions 16 .. E - 1) when the end code is 0.
  std::function<void(std::span<const std::uint8_t>)> unpack;
};

std::int16_t RunExchange(const LinkEnvironment& env, const ExchangeSettings& settings,
                         const ExchangePlan& plan);

}  // namespace kestova
