#pragma once
// The tool's commands once their arguments have been read and checked for form: devices
// parsed, numbers parsed. Numbers are kept as typed (64 bits) and narrowed only when they
// are handed to the control, so a value out of the control's range fails there, as its
// own run-time error, and not as a usage error of the tool.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/value_forms.h"
#include "values/device_name.h"

namespace kestova::cli {

// The control's properties as the options set them; the defaults are the control's own.
struct ConnectionOptions {
  std::string port = "1";  // a port number, or the path of a serial device
  std::string settings = "9600,n,8,1";
  std::int64_t handshaking = 0;
  std::int64_t timeout = 3;
  std::int64_t station = 0;
  std::int64_t network = 0;
  std::int64_t pc = 255;
  std::int64_t module_io = 1023;
  std::int64_t module_station = 0;
  bool sum_check = false;
  std::filesystem::path log_dir;  // empty: the plain host's default folder
};

struct ReadCommand {
  DeviceAddress device;
  std::int64_t points = 0;  // words when plain, else values (text: characters)
  ValueForm form = ValueForm::kPlain;
};

struct WriteCommand {
  DeviceAddress device;
  std::int16_t value = 0;  // already folded to 16 bits: 65535 is -1
};

struct BitCommand {
  DeviceAddress device;
  bool on = false;
};

// A block write; typed writes (--as) come here too, as the words of their values.
struct WriteBlockCommand {
  DeviceAddress device;
  std::vector<std::int16_t> values;
};

struct RemoteCommand {
  enum class Action { kRun, kStop, kReset };
  Action action = Action::kRun;
  std::optional<std::int64_t> mode;        // the control's default (1) when absent
  std::optional<std::int64_t> clear_mode;  // RUN only
};

struct WatchCommand {
  DeviceAddress device;
  std::int64_t points = 0;  // as in ReadCommand
  std::chrono::milliseconds interval{1000};
  std::int64_t count = 0;  // number of reads; 0 reads until interrupted
  ValueForm form = ValueForm::kPlain;
  bool stop_on_error = false;  // else a failed read is reported and the next one follows
};

using ControlCommand =
    std::variant<ReadCommand, WriteCommand, BitCommand, WriteBlockCommand, RemoteCommand, WatchCommand>;

}  // namespace kestova::cli
