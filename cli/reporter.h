#pragma once
// Everything the tool tells its user, in one of two forms: plain text for people, or with
// --json exactly one JSON object on one line of standard output for scripts (watch, which
// runs until stopped, writes one object per line instead). MelsecOut texts go to standard
// error the moment they are raised, whatever the form, and are kept for the JSON object.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/value_forms.h"
#include "link/automation_error.h"
#include "values/device_name.h"

namespace kestova::cli {

// "0x4031": the 16 bits of a result as the PLC's end code, four upper-case hex digits.
std::string EndCodeText(std::int16_t result);

// One JSON value as a single line; bytes that are not UTF-8 are replaced, never thrown on.
std::string OneLine(const nlohmann::ordered_json& value);

class Reporter {
 public:
  Reporter(std::ostream& out, std::ostream& err, bool json);

  bool json() const { return json_; }

  // A MelsecOut text, verbatim, blanks included.
  void Message(const std::string& text);
  const std::vector<std::string>& messages() const { return messages_; }

  // The outcome of a read from `device`: its values when the result is 0.
  void Read(std::int16_t result, const DeviceAddress& device, const std::vector<ShownValue>& values);
  // The outcome of any other operation.
  void Result(std::int16_t result);
  // A run-time error of the control or its port that ended the command.
  void Error(const AutomationError& error);
  // Any other failure that ended the command (no error number).
  void Failure(const std::string& description);

  // watch: the values that changed in one read, a read that failed, then a closing
  // object after the last read: `result` is that of the last failed read (0 when none).
  void Changes(const std::string& time, const std::vector<ShownValue>& changes);
  void ReadFailed(const std::string& time, std::int16_t result);
  void WatchEnded(std::int16_t result, long reads, long failures);

  // A line of narration or status, text form only.
  void Say(const std::string& line);
  // A finished JSON object of a command that builds its own (demo, simulate); the
  // messages are added here.
  void Object(nlohmann::ordered_json object);

 private:
  void ResultLine(std::int16_t result);

  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  std::vector<std::string> messages_;
};

}  // namespace kestova::cli
