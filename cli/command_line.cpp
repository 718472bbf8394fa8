#include "cli/command_line.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/command_runner.h"
#include "cli/commands.h"
#include "cli/control_session.h"
#include "cli/device_notation.h"
#include "cli/exit_status.h"
#include "cli/family_operations.h"
#include "cli/number_text.h"
#include "cli/reporter.h"
#include "cli/usage_error.h"
#include "control/plain_host.h"
#include "control/tarvane.h"
#include "link/automation_error.h"

#ifndef _WIN32
#include "cli/demo_tour.h"
#include "cli/simulate_command.h"
#endif

namespace kestova::cli {
namespace {

constexpr const char* kGeneralUsage =
    "kestova [OPTIONS] COMMAND [ARGS] (commands: read write set reset write-block run stop "
    "reset-cpu watch"
#ifndef _WIN32
    " simulate demo"
#endif
    "; kestova --help for more)";

// Everything the command line says, as typed; turned into a command once parsed.
struct CommandLine {
  ConnectionOptions connection;
  std::string port_text = "1";
  std::string handshaking_text = "0";
  std::string timeout_text = "3";
  std::string station_text = "0";
  std::string network_text = "0";
  std::string pc_text = "255";
  std::string module_io_text = "1023";
  std::string module_station_text = "0";
  std::string log_dir;
  bool json = false;

  std::string device;
  std::string points;
  std::string value;
  std::vector<std::string> values;
  std::string mode;
  std::string clear_mode;
  std::string interval = "1000";
  std::string count = "0";

  bool simulate_sum_check = false;
  std::string pty_link;
};

struct Subcommand {
  CLI::App* app;
  const char* usage;
};

DeviceAddress WordWritableDevice(const std::string& text, const char* command) {
  const DeviceAddress device = ParseDevice(text);
  if (!IsWordWritable(device.family)) {
    throw UsageError(std::string(command) + " takes a D, W or ZR device, not '" + text + "'");
  }
  return device;
}

DeviceAddress BitWritableDevice(const std::string& text, const char* command) {
  const DeviceAddress device = ParseDevice(text);
  if (!IsBitWritable(device.family)) {
    throw UsageError(std::string(command) + " takes an M, Y, B, L, F or S device, not '" + text + "'");
  }
  return device;
}

// A word value: -32768..65535, the upper half sent as the same 16 bits (65535 is -1).
std::int16_t WordValue(const std::string& text) {
  const std::int64_t value = ParseNumber(text, "VALUE");
  if (value < -32768 || value > 65535) {
    throw UsageError("VALUE " + text + " is outside -32768..65535");
  }
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF));
}

std::optional<std::int64_t> OptionalNumber(const std::string& text, const char* what) {
  if (text.empty()) return std::nullopt;
  return ParseNumber(text, what);
}

void ApplyConnectionOptions(CommandLine& line) {
  ConnectionOptions& c = line.connection;
  c.port = line.port_text;
  c.handshaking = ParseNumber(line.handshaking_text, "--handshaking");
  c.timeout = ParseNumber(line.timeout_text, "--timeout");
  c.station = ParseNumber(line.station_text, "--station");
  c.network = ParseNumber(line.network_text, "--network");
  c.pc = ParseNumber(line.pc_text, "--pc");
  c.module_io = ParseNumber(line.module_io_text, "--module-io");
  c.module_station = ParseNumber(line.module_station_text, "--module-station");
  c.log_dir = line.log_dir;
}

ExitStatus RunControlCommand(const CommandLine& line, const ControlCommand& command,
                             Reporter& reporter) {
  try {
    ControlSession session(line.connection, reporter);
    CommandRunner runner(session, reporter);
    return runner.Run(command);
  } catch (const AutomationError& error) {
    reporter.Error(error);
    return ExitStatus::kRunTimeError;
  }
}

int UsageFailure(const std::string& what, const char* usage) {
  std::cerr << "kestova: " << what << "; usage: " << usage << std::endl;
  return static_cast<int>(ExitStatus::kUsage);
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  CommandLine line;
  CLI::App app{"kestova: read and write the devices of a MELSEC QnA/Q PLC over a serial line,\n"
               "switch its CPU between RUN and STOP, or try it all on a virtual PLC."};
  app.name("kestova");
  app.require_subcommand(1);
  app.set_version_flag("--version", Tarvane::VersionLine());
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->label("Subcommands", "Commands");

  const std::string default_log = PlainHost::DefaultLogFolder().string();
  app.add_option("--port", line.port_text,
                 "Serial port number N (/dev/ttyS<N-1>, COM<N>) or a device path [CommPort] (default 1)")
      ->type_name("PATH|N");
  app.add_option("--settings", line.connection.settings,
                 "Line settings baud,parity,data bits,stop bits [Settings] (default 9600,n,8,1)")
      ->type_name("TEXT");
  app.add_option("--handshaking", line.handshaking_text,
                 "0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both [Handshaking] (default 0)")
      ->type_name("N");
  app.add_option("--timeout", line.timeout_text, "Answer time-out in whole seconds [Timeout] (default 3)")
      ->type_name("S");
  app.add_option("--station", line.station_text, "Station number [StationNo] (default 0)")
      ->type_name("N");
  app.add_option("--network", line.network_text, "Network number [NetworkNo] (default 0)")
      ->type_name("N");
  app.add_option("--pc", line.pc_text, "PC number [PCNumber] (default 255)")
      ->type_name("N");
  app.add_option("--module-io", line.module_io_text,
                 "Request destination module I/O number [RqstDestMdIO] (default 1023)")
      ->type_name("N");
  app.add_option("--module-station", line.module_station_text,
                 "Request destination module station number [RqstDestMdSta] (default 0)")
      ->type_name("N");
  app.add_flag("--sumcheck", line.connection.sum_check, "Send and expect the sum check [SumCheck]");
  app.add_option("--log-dir", line.log_dir,
                 "Folder of the daily communication error log (.CEL) (default " + default_log +
                     ": the program's folder when writable, else the per-user state folder)")
      ->type_name("DIR");
  app.add_flag("--json", line.json, "Print one JSON object on one line instead of text");
  app.footer(
      "Numbers are decimal or 0x-hexadecimal. Devices are written as the PLC writes them:\n"
      "X, Y, B, W, SB and SW numbered in hexadecimal (X1F0, W1A), M, L, F, S, SM, D, SD and ZR\n"
      "in decimal (D100, ZR40000); letters in either case.\n"
      "Exit status: 0 done, 1 refused / port closed / time-out, 2 usage error, 3 PLC end code,\n"
      "4 run-time error of the control or the port. MelsecOut texts go to standard error.");

  std::vector<Subcommand> subcommands;
  const auto add = [&](const char* name, const char* description, const char* usage) {
    CLI::App* sub = app.add_subcommand(name, description);
    subcommands.push_back({sub, usage});
    return sub;
  };

  CLI::App* read = add("read", "Read POINTS words of devices from DEVICE (bit devices 16 per word)",
                       "kestova [OPTIONS] read DEVICE POINTS");
  read->add_option("DEVICE", line.device, "First device, e.g. D100, X1F0")->type_name("")->required();
  read->add_option("POINTS", line.points, "Number of words")->type_name("")->required();

  CLI::App* write = add("write", "Write one word to a D, W or ZR device",
                        "kestova [OPTIONS] write DEVICE VALUE");
  write->add_option("DEVICE", line.device, "D, W or ZR device")->type_name("")->required();
  write->add_option("VALUE", line.value, "-32768..65535")->type_name("")->required();

  CLI::App* set = add("set", "Switch one M, Y, B, L, F or S device on", "kestova [OPTIONS] set DEVICE");
  set->add_option("DEVICE", line.device, "M, Y, B, L, F or S device")->type_name("")->required();

  CLI::App* reset = add("reset", "Switch one M, Y, B, L, F or S device off",
                        "kestova [OPTIONS] reset DEVICE");
  reset->add_option("DEVICE", line.device, "M, Y, B, L, F or S device")->type_name("")->required();

  CLI::App* write_block = add("write-block", "Write consecutive words from a D, W or ZR device",
                              "kestova [OPTIONS] write-block DEVICE VALUE...");
  write_block->add_option("DEVICE", line.device, "First D, W or ZR device")->type_name("")->required();
  write_block->add_option("VALUE", line.values, "1 to 480 values, -32768..65535 each")->type_name("")->required();

  CLI::App* run = add("run", "Remote RUN (MODE 1 normal, 3 forced; CLEARMODE 0 keep, 1 clear "
                             "outside the latch range, 2 clear all; both default 1)",
                      "kestova [OPTIONS] run [MODE [CLEARMODE]]");
  run->add_option("MODE", line.mode, "Default 1")->type_name("");
  run->add_option("CLEARMODE", line.clear_mode, "Default 1: clears memory outside the latch range")->type_name("");

  CLI::App* stop = add("stop", "Remote STOP", "kestova [OPTIONS] stop [MODE]");
  stop->add_option("MODE", line.mode, "Default 1")->type_name("");

  CLI::App* reset_cpu = add("reset-cpu", "Remote RESET (the CPU may reset before it answers)",
                            "kestova [OPTIONS] reset-cpu [MODE]");
  reset_cpu->add_option("MODE", line.mode, "Default 1")->type_name("");

  CLI::App* watch = add("watch", "Read repeatedly and print what changed, with a timestamp; Ctrl-C ends",
                        "kestova [OPTIONS] watch DEVICE POINTS [--interval MS] [--count N]");
  watch->add_option("DEVICE", line.device, "First device")->type_name("")->required();
  watch->add_option("POINTS", line.points, "Number of words")->type_name("")->required();
  watch->add_option("--interval", line.interval, "Milliseconds between reads (default 1000)")
      ->type_name("MS");
  watch->add_option("--count", line.count, "Number of reads, 0 until Ctrl-C (default 0)")
      ->type_name("N");

#ifndef _WIN32
  CLI::App* simulate = add("simulate", "Run a virtual PLC on a pseudo-terminal until Ctrl-C",
                           "kestova simulate [--sumcheck] [--pty-link PATH]");
  simulate->add_flag("--sumcheck", line.simulate_sum_check, "The virtual PLC uses the sum check");
  simulate->add_option("--pty-link", line.pty_link, "Also make the terminal reachable at PATH")
      ->type_name("PATH");

  CLI::App* demo = add("demo", "A narrated tour of every operation against a virtual PLC",
                       "kestova [--json] [--log-dir DIR] demo");
#endif

  const auto usage_of_parsed = [&]() -> const char* {
    for (const Subcommand& sub : subcommands) {
      if (sub.app->parsed()) return sub.usage;
    }
    return kGeneralUsage;
  };

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return UsageFailure(e.what(), usage_of_parsed());
  }

  Reporter reporter(std::cout, std::cerr, line.json);
  try {
    ApplyConnectionOptions(line);
#ifndef _WIN32
    if (simulate->parsed()) {
      return static_cast<int>(RunSimulator(
          reporter, {line.simulate_sum_check || line.connection.sum_check, line.pty_link}));
    }
    if (demo->parsed()) return static_cast<int>(RunDemoTour(reporter, line.connection.log_dir));
#endif
    ControlCommand command;
    if (read->parsed()) {
      command = ReadCommand{ParseDevice(line.device), ParseNumber(line.points, "POINTS")};
    } else if (write->parsed()) {
      command = WriteCommand{WordWritableDevice(line.device, "write"), WordValue(line.value)};
    } else if (set->parsed()) {
      command = BitCommand{BitWritableDevice(line.device, "set"), true};
    } else if (reset->parsed()) {
      command = BitCommand{BitWritableDevice(line.device, "reset"), false};
    } else if (write_block->parsed()) {
      WriteBlockCommand block{WordWritableDevice(line.device, "write-block"), {}};
      for (const std::string& value : line.values) block.values.push_back(WordValue(value));
      command = block;
    } else if (run->parsed()) {
      command = RemoteCommand{RemoteCommand::Action::kRun, OptionalNumber(line.mode, "MODE"),
                              OptionalNumber(line.clear_mode, "CLEARMODE")};
    } else if (stop->parsed()) {
      command = RemoteCommand{RemoteCommand::Action::kStop, OptionalNumber(line.mode, "MODE"), {}};
    } else if (reset_cpu->parsed()) {
      command = RemoteCommand{RemoteCommand::Action::kReset, OptionalNumber(line.mode, "MODE"), {}};
    } else if (watch->parsed()) {
      const std::int64_t interval = ParseNumber(line.interval, "--interval");
      const std::int64_t count = ParseNumber(line.count, "--count");
      if (interval < 0) throw UsageError("--interval must not be negative");
      if (count < 0) throw UsageError("--count must not be negative");
      command = WatchCommand{ParseDevice(line.device), ParseNumber(line.points, "POINTS"),
                             std::chrono::milliseconds(interval), count};
    }
    return static_cast<int>(RunControlCommand(line, command, reporter));
  } catch (const UsageError& e) {
    return UsageFailure(e.what(), usage_of_parsed());
  } catch (const AutomationError& e) {
    reporter.Error(e);
    return static_cast<int>(ExitStatus::kRunTimeError);
  }
}

}  // namespace kestova::cli
