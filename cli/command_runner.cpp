#include "cli/command_runner.h"

#include <cstdio>
#include <optional>
#include <variant>

#include "cli/number_text.h"
#include "cli/stop_signal.h"

namespace kestova::cli {
namespace {

// Local wall time to the millisecond, "2026-12-06 10:47:01.123".
std::string Timestamp(const LocalDateTime& now) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", now.year, now.month,
                now.day, now.hour, now.minute, now.second,
                static_cast<int>(now.nanosecond / 1'000'000));
  return text;
}

}  // namespace

CommandRunner::CommandRunner(ControlSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

ExitStatus CommandRunner::Run(const ControlCommand& command) {
  return std::visit([this](const auto& c) { return (*this)(c); }, command);
}

ExitStatus CommandRunner::operator()(const ReadCommand& command) {
  const std::int32_t start = ToLong(command.device.number);
  const std::int16_t words = ToInteger(WordsOf(command.form, command.points));
  Tarvane& control = session_.control();
  const std::int16_t result = control.Read(command.device.family, start, words);
  std::vector<ShownValue> values;
  if (result == 0) {
    values = ShowValues(command.form, command.device, session_.ImageValues(command.device.family, start, words),
                        command.points);
  }
  reporter_.Read(result, command.device, values);
  return ExitStatusFor(result);
}

ExitStatus CommandRunner::operator()(const WriteCommand& command) {
  const std::int16_t result =
      session_.control().WriteWord(command.device.family, ToLong(command.device.number), command.value);
  reporter_.Result(result);
  return ExitStatusFor(result);
}

ExitStatus CommandRunner::operator()(const BitCommand& command) {
  const std::int16_t result =
      session_.control().SwitchBit(command.device.family, ToLong(command.device.number), command.on);
  reporter_.Result(result);
  return ExitStatusFor(result);
}

ExitStatus CommandRunner::operator()(const WriteBlockCommand& command) {
  const std::int16_t points = ToInteger(static_cast<std::int64_t>(command.values.size()));
  const std::int16_t result = session_.control().WriteBlock(
      BlockWriteHead(command.device), points, IntegerArray::ZeroBased(command.values));
  reporter_.Result(result);
  return ExitStatusFor(result);
}

ExitStatus CommandRunner::operator()(const RemoteCommand& command) {
  Tarvane& control = session_.control();
  const std::int16_t mode = command.mode ? ToInteger(*command.mode) : std::int16_t{1};
  std::int16_t result = 1;
  switch (command.action) {
    case RemoteCommand::Action::kRun:
      result = control.RemoteRun(mode, command.clear_mode ? ToInteger(*command.clear_mode)
                                                          : std::int16_t{1});
      break;
    case RemoteCommand::Action::kStop:
      result = control.RemoteStop(mode);
      break;
    case RemoteCommand::Action::kReset:
      result = control.RemoteReset(mode);
      break;
  }
  reporter_.Result(result);
  return ExitStatusFor(result);
}

ExitStatus CommandRunner::operator()(const WatchCommand& command) {
  const std::int32_t start = ToLong(command.device.number);
  const std::int16_t words = ToInteger(WordsOf(command.form, command.points));
  Tarvane& control = session_.control();
  StopSignal stop;

  std::optional<std::vector<ShownValue>> last;  // nothing yet: the first read shows every value
  std::int16_t failed = 0;                      // the last failed read's result
  long reads = 0;
  long failures = 0;
  while (command.count == 0 || reads < command.count) {
    const std::int16_t result = control.Read(command.device.family, start, words);
    ++reads;
    const std::string time = Timestamp(session_.host().LocalNow());
    if (result != 0) {
      failed = result;
      ++failures;
      reporter_.ReadFailed(time, result);
      if (command.stop_on_error) break;
    } else {
      const std::vector<ShownValue> values = ShowValues(
          command.form, command.device, session_.ImageValues(command.device.family, start, words), command.points);
      std::vector<ShownValue> changes;
      for (std::size_t k = 0; k < values.size(); ++k) {
        if (!last || !((*last)[k] == values[k])) changes.push_back(values[k]);
      }
      reporter_.Changes(time, changes);
      last = values;
    }
    if (command.count != 0 && reads >= command.count) break;
    if (stop.WaitFor(command.interval)) break;
  }
  reporter_.WatchEnded(failed, reads, failures);
  return ExitStatusFor(failed);
}

}  // namespace kestova::cli
