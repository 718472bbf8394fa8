#include "cli/command_line.h"

#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/command_runner.h"
#include "cli/commands.h"
#include "cli/control_session.h"
#include "cli/exit_status.h"
#include "cli/number_text.h"
#include "cli/reporter.h"
#include "cli/usage_error.h"
#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/automation_error.h"
#include "values/device_name.h"
#include "values/value_error.h"

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

// Everything the command line says, as typed. Numbers stay text until the command is
// known, so that a bad one is reported with that command's usage.
struct CommandLine {
  std::string port = "1";
  std::string settings = "9600,n,8,1";
  std::string handshaking = "0";
  std::string timeout = "3";
  std::string station = "0";
  std::string network = "0";
  std::string pc = "255";
  std::string module_io = "1023";
  std::string module_station = "0";
  bool sum_check = false;
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
  std::string as;  // --as: empty for plain words
  bool stop_on_error = false;

  bool simulate_sum_check = false;
  std::string pty_link;
};

// The command objects of the parser, and the usage line of each.
struct Commands {
  struct Entry {
    CLI::App* app = nullptr;
    const char* usage = "";
  };
  Entry read, write, set, reset, write_block, run, stop, reset_cpu, watch, simulate, demo;

  const char* UsageOfParsed() const {
    for (const Entry* entry : {&read, &write, &set, &reset, &write_block, &run, &stop, &reset_cpu,
                               &watch, &simulate, &demo}) {
      if (entry->app != nullptr && entry->app->parsed()) return entry->usage;
    }
    return kGeneralUsage;
  }
};

void DefineOptions(CLI::App& app, CommandLine& line) {
  const std::string default_log = PlainHost::DefaultLogFolder().string();
  app.add_option("--port", line.port,
                 "Serial port number N (/dev/ttyS<N-1>, COM<N>) or a device path [CommPort] (default 1)")
      ->type_name("PATH|N");
  app.add_option("--settings", line.settings,
                 "Line settings baud,parity,data bits,stop bits [Settings] (default 9600,n,8,1)")
      ->type_name("TEXT");
  app.add_option("--handshaking", line.handshaking,
                 "0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both [Handshaking] (default 0)")
      ->type_name("N");
  app.add_option("--timeout", line.timeout, "Answer time-out in whole seconds [Timeout] (default 3)")
      ->type_name("S");
  app.add_option("--station", line.station, "Station number [StationNo] (default 0)")->type_name("N");
  app.add_option("--network", line.network, "Network number [NetworkNo] (default 0)")->type_name("N");
  app.add_option("--pc", line.pc, "PC number [PCNumber] (default 255)")->type_name("N");
  app.add_option("--module-io", line.module_io,
                 "Request destination module I/O number [RqstDestMdIO] (default 1023)")
      ->type_name("N");
  app.add_option("--module-station", line.module_station,
                 "Request destination module station number [RqstDestMdSta] (default 0)")
      ->type_name("N");
  app.add_flag("--sumcheck", line.sum_check, "Send and expect the sum check [SumCheck]");
  app.add_option("--log-dir", line.log_dir,
                 "Folder of the daily communication error log (.CEL) (default " + default_log +
                     ": the program's folder when writable, else the per-user state folder)")
      ->type_name("DIR");
  app.add_flag("--json", line.json, "Print one JSON object on one line instead of text");
}

Commands DefineCommands(CLI::App& app, CommandLine& line) {
  Commands commands;
  const auto add = [&app](Commands::Entry& entry, const char* name, const char* description,
                          const char* usage) {
    entry = {app.add_subcommand(name, description), usage};
    return entry.app;
  };
  const auto positional = [](CLI::App* command, const char* name, auto& target, const char* help) {
    return command->add_option(name, target, help)->type_name("");
  };

  const auto as = [&line](CLI::App* command, const char* help) {
    command->add_option("--as", line.as, help)->type_name("TYPE");
  };
  constexpr const char* kReadAs =
      "Show the words as int16, uint16, int32, uint32, float, hex or text; POINTS then counts values "
      "(int32, uint32 and float take two words each, low word first) or, for text, characters";
  constexpr const char* kWriteAs =
      "Take VALUE as int16, uint16, int32, uint32, float (two words each for the 32-bit ones, low word "
      "first), hex (a word in hex digits) or text (two characters a word, no terminator)";

  CLI::App* read = add(commands.read, "read", "Read POINTS words of devices from DEVICE (bit devices 16 per word)",
                       "kestova [OPTIONS] read DEVICE POINTS [--as TYPE]");
  positional(read, "DEVICE", line.device, "First device, e.g. D100, X1F0")->required();
  positional(read, "POINTS", line.points, "Number of words, or of values with --as")->required();
  as(read, kReadAs);

  CLI::App* write = add(commands.write, "write", "Write one word (or one typed value) to a D, W or ZR device",
                        "kestova [OPTIONS] write DEVICE VALUE [--as TYPE]");
  positional(write, "DEVICE", line.device, "D, W or ZR device")->required();
  positional(write, "VALUE", line.value, "-32768..65535, or a value of the --as type")->required();
  as(write, kWriteAs);

  CLI::App* set = add(commands.set, "set", "Switch one M, Y, B, L, F or S device on",
                      "kestova [OPTIONS] set DEVICE");
  positional(set, "DEVICE", line.device, "M, Y, B, L, F or S device")->required();

  CLI::App* reset = add(commands.reset, "reset", "Switch one M, Y, B, L, F or S device off",
                        "kestova [OPTIONS] reset DEVICE");
  positional(reset, "DEVICE", line.device, "M, Y, B, L, F or S device")->required();

  CLI::App* block = add(commands.write_block, "write-block", "Write consecutive words from a D, W or ZR device",
                        "kestova [OPTIONS] write-block DEVICE VALUE... [--as TYPE]");
  positional(block, "DEVICE", line.device, "First D, W or ZR device")->required();
  positional(block, "VALUE", line.values, "1 to 480 words, -32768..65535 each, or values of the --as type")
      ->required();
  as(block, kWriteAs);

  CLI::App* run = add(commands.run, "run",
                      "Remote RUN (MODE 1 normal, 3 forced; CLEARMODE 0 keep, 1 clear outside the "
                      "latch range, 2 clear all; both default 1)",
                      "kestova [OPTIONS] run [MODE [CLEARMODE]]");
  positional(run, "MODE", line.mode, "Default 1");
  positional(run, "CLEARMODE", line.clear_mode, "Default 1: clears memory outside the latch range");

  CLI::App* stop = add(commands.stop, "stop", "Remote STOP", "kestova [OPTIONS] stop [MODE]");
  positional(stop, "MODE", line.mode, "Default 1");

  CLI::App* reset_cpu = add(commands.reset_cpu, "reset-cpu",
                            "Remote RESET (the CPU may reset before it answers)",
                            "kestova [OPTIONS] reset-cpu [MODE]");
  positional(reset_cpu, "MODE", line.mode, "Default 1");

  CLI::App* watch = add(commands.watch, "watch",
                        "Read repeatedly and print what changed, with a timestamp; Ctrl-C ends",
                        "kestova [OPTIONS] watch DEVICE POINTS [--interval MS] [--count N] [--as TYPE] "
                        "[--stop-on-error]");
  positional(watch, "DEVICE", line.device, "First device")->required();
  positional(watch, "POINTS", line.points, "Number of words, or of values with --as")->required();
  watch->add_option("--interval", line.interval, "Milliseconds between reads (default 1000)")->type_name("MS");
  watch->add_option("--count", line.count, "Number of reads, 0 until Ctrl-C (default 0)")->type_name("N");
  as(watch, kReadAs);
  watch->add_flag("--stop-on-error", line.stop_on_error,
                  "Stop at the first failed read (else it is printed and counted, and watching goes on)");

#ifndef _WIN32
  CLI::App* simulate = add(commands.simulate, "simulate", "Run a virtual PLC on a pseudo-terminal until Ctrl-C",
                           "kestova simulate [--sumcheck] [--pty-link PATH]");
  simulate->add_flag("--sumcheck", line.simulate_sum_check, "The virtual PLC uses the sum check");
  simulate->add_option("--pty-link", line.pty_link, "Also make the terminal reachable at PATH")
      ->type_name("PATH");

  add(commands.demo, "demo", "A narrated tour of every operation against a virtual PLC",
      "kestova [--json] [--log-dir DIR] demo");
#endif
  return commands;
}

ConnectionOptions Connection(const CommandLine& line) {
  ConnectionOptions c;
  c.port = line.port;
  c.settings = line.settings;
  c.handshaking = ParseNumber(line.handshaking, "--handshaking");
  c.timeout = ParseNumber(line.timeout, "--timeout");
  c.station = ParseNumber(line.station, "--station");
  c.network = ParseNumber(line.network, "--network");
  c.pc = ParseNumber(line.pc, "--pc");
  c.module_io = ParseNumber(line.module_io, "--module-io");
  c.module_station = ParseNumber(line.module_station, "--module-station");
  c.sum_check = line.sum_check;
  c.log_dir = line.log_dir;
  return c;
}

// A device of a command: the bit of a word ("D100.5") is not taken here.
DeviceAddress WholeDevice(const std::string& text) {
  const DeviceAddress device = ParseDevice(text);
  if (device.bit) throw UsageError("'" + text + "': a bit of a word is not taken here; name the word");
  return device;
}

ValueForm FormOf(const CommandLine& line) {
  if (line.as.empty()) return ValueForm::kPlain;
  const std::optional<ValueForm> form = ValueFormNamed(line.as);
  if (!form) throw UsageError("--as " + line.as + ": expected " + kValueFormNames);
  return *form;
}

// A read's device and form: a typed form needs a word family.
DeviceAddress ReadableDevice(const std::string& text, ValueForm form) {
  const DeviceAddress device = WholeDevice(text);
  if (form != ValueForm::kPlain && IsBitFamily(device.family)) {
    throw UsageError("--as needs a word device (D, W, ZR, SD, SW), not '" + text + "'");
  }
  return device;
}

DeviceAddress WordWritableDevice(const std::string& text, const char* command) {
  const DeviceAddress device = WholeDevice(text);
  if (!TakesWordWrite(device.family)) {
    throw UsageError(std::string(command) + " takes a D, W or ZR device, not '" + text + "'");
  }
  return device;
}

DeviceAddress BitWritableDevice(const std::string& text, const char* command) {
  const DeviceAddress device = WholeDevice(text);
  if (!TakesBitWrite(device.family)) {
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

// The control command the parsed line asks for; throws UsageError.
ControlCommand ToControlCommand(const CommandLine& line, const Commands& commands) {
  using Action = RemoteCommand::Action;
  const ValueForm form = FormOf(line);
  if (commands.write.app->parsed() && form != ValueForm::kPlain) {
    return WriteBlockCommand{WordWritableDevice(line.device, "write"), EncodeValues(form, {line.value})};
  }
  if (commands.write.app->parsed()) {
    return WriteCommand{WordWritableDevice(line.device, "write"), WordValue(line.value)};
  }
  if (commands.set.app->parsed()) return BitCommand{BitWritableDevice(line.device, "set"), true};
  if (commands.reset.app->parsed()) return BitCommand{BitWritableDevice(line.device, "reset"), false};
  if (commands.write_block.app->parsed()) {
    WriteBlockCommand block{WordWritableDevice(line.device, "write-block"), {}};
    if (form != ValueForm::kPlain) {
      block.values = EncodeValues(form, line.values);
    } else {
      for (const std::string& value : line.values) block.values.push_back(WordValue(value));
    }
    return block;
  }
  if (commands.run.app->parsed()) {
    return RemoteCommand{Action::kRun, OptionalNumber(line.mode, "MODE"),
                         OptionalNumber(line.clear_mode, "CLEARMODE")};
  }
  if (commands.stop.app->parsed()) return RemoteCommand{Action::kStop, OptionalNumber(line.mode, "MODE"), {}};
  if (commands.reset_cpu.app->parsed()) {
    return RemoteCommand{Action::kReset, OptionalNumber(line.mode, "MODE"), {}};
  }
  if (commands.watch.app->parsed()) {
    const std::int64_t interval = ParseNumber(line.interval, "--interval");
    const std::int64_t count = ParseNumber(line.count, "--count");
    if (interval < 0) throw UsageError("--interval must not be negative");
    if (count < 0) throw UsageError("--count must not be negative");
    return WatchCommand{ReadableDevice(line.device, form), ParseNumber(line.points, "POINTS"),
                        std::chrono::milliseconds(interval), count, form, line.stop_on_error};
  }
  return ReadCommand{ReadableDevice(line.device, form), ParseNumber(line.points, "POINTS"), form};
}

ExitStatus RunControlCommand(const ConnectionOptions& connection, const ControlCommand& command,
                             Reporter& reporter) {
  ControlSession session(connection, reporter);
  CommandRunner runner(session, reporter);
  return runner.Run(command);
}

ExitStatus Run(const CommandLine& line, const Commands& commands, Reporter& reporter) {
  const ConnectionOptions connection = Connection(line);
#ifndef _WIN32
  if (commands.simulate.app->parsed()) {
    return RunSimulator(reporter, {line.simulate_sum_check || line.sum_check, line.pty_link});
  }
  if (commands.demo.app->parsed()) return RunDemoTour(reporter, connection.log_dir);
#endif
  return RunControlCommand(connection, ToControlCommand(line, commands), reporter);
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
  // The options of the tool are taken after the command too: `kestova read D100 2 --json`.
  app.fallthrough();
  app.set_version_flag("--version", Tarvane::VersionLine());
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->label("Subcommands", "Commands");
  app.footer(
      "Numbers are decimal or 0x-hexadecimal. Devices are written as the PLC writes them:\n"
      "X, Y, B, W, SB and SW numbered in hexadecimal (X1F0, W1A), M, L, F, S, SM, D, SD and ZR\n"
      "in decimal (D100, ZR40000); letters in either case. Options may also follow the command.\n"
      "With --as, POINTS counts values: two words per int32, uint32 or float (low word first),\n"
      "characters for text; kestova read D200 2 --as float reads D200..D203.\n"
      "Exit status: 0 done, 1 refused / port closed / time-out, 2 usage error, 3 PLC end code,\n"
      "4 run-time error of the control or the port. MelsecOut texts go to standard error.");
  DefineOptions(app, line);
  const Commands commands = DefineCommands(app, line);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return UsageFailure(e.what(), commands.UsageOfParsed());
  }

  Reporter reporter(std::cout, std::cerr, line.json);
  try {
    return static_cast<int>(Run(line, commands, reporter));
  } catch (const UsageError& e) {
    return UsageFailure(e.what(), commands.UsageOfParsed());
  } catch (const ValueError& e) {
    return UsageFailure(e.what(), commands.UsageOfParsed());
  } catch (const AutomationError& e) {
    reporter.Error(e);
  } catch (const std::exception& e) {
    // What the system refused outside the control: a pseudo-terminal, a pipe, a folder.
    reporter.Failure(e.what());
  }
  return static_cast<int>(ExitStatus::kRunTimeError);
}

}  // namespace kestova::cli
