#include "cli/reporter.h"

#include <cstdio>
#include <ostream>

namespace kestova::cli {

std::string EndCodeText(std::int16_t result) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(static_cast<std::uint16_t>(result)));
  return text;
}

std::string OneLine(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

Reporter::Reporter(std::ostream& out, std::ostream& err, bool json)
    : out_(out), err_(err), json_(json) {}

void Reporter::Message(const std::string& text) {
  // Flushed at once: the text belongs beside the moment it was raised, and a watch may
  // run for hours.
  err_ << text << std::endl;
  messages_.push_back(text);
}

void Reporter::ResultLine(std::int16_t result) {
  if (result == 0 || result == 1) {
    out_ << "result " << result << "\n";
  } else {
    out_ << "result " << result << " (end code " << EndCodeText(result) << ")\n";
  }
}

void Reporter::Read(std::int16_t result, const DeviceAddress& device, const std::vector<ShownValue>& values) {
  if (json_) {
    nlohmann::ordered_json object;
    object["result"] = result;
    object["device"] = DeviceLabel(device);
    if (result == 0) {
      object["values"] = nlohmann::ordered_json::array();
      for (const ShownValue& value : values) object["values"].push_back(value.json);
    }
    if (result != 0 && result != 1) object["end_code"] = EndCodeText(result);
    object["messages"] = messages_;
    out_ << OneLine(object) << std::endl;
    return;
  }
  if (result != 0) {
    ResultLine(result);
    return;
  }
  for (const ShownValue& value : values) out_ << value.device << " " << value.text << "\n";
  out_.flush();
}

void Reporter::Result(std::int16_t result) {
  if (json_) {
    nlohmann::ordered_json object;
    object["result"] = result;
    if (result != 0 && result != 1) object["end_code"] = EndCodeText(result);
    object["messages"] = messages_;
    out_ << OneLine(object) << std::endl;
    return;
  }
  ResultLine(result);
  out_.flush();
}

void Reporter::Error(const AutomationError& error) {
  if (json_) {
    nlohmann::ordered_json object;
    object["error"] = {{"number", error.code()}, {"description", error.description()}};
    object["messages"] = messages_;
    out_ << OneLine(object) << std::endl;
    return;
  }
  err_ << "kestova: run-time error " << error.code() << ": " << error.description() << std::endl;
}

void Reporter::Failure(const std::string& description) {
  if (json_) {
    nlohmann::ordered_json object;
    object["error"] = {{"description", description}};
    object["messages"] = messages_;
    out_ << OneLine(object) << std::endl;
    return;
  }
  err_ << "kestova: " << description << std::endl;
}

void Reporter::Changes(const std::string& time, const std::vector<ShownValue>& changes) {
  if (changes.empty()) return;
  if (json_) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ShownValue& change : changes) {
      nlohmann::ordered_json item;
      item["device"] = change.device;
      item["value"] = change.json;
      list.push_back(std::move(item));
    }
    nlohmann::ordered_json object;
    object["time"] = time;
    object["changes"] = std::move(list);
    out_ << OneLine(object) << std::endl;
    return;
  }
  for (const ShownValue& change : changes) out_ << time << " " << change.device << " " << change.text << "\n";
  out_.flush();
}

void Reporter::ReadFailed(const std::string& time, std::int16_t result) {
  if (json_) {
    nlohmann::ordered_json object;
    object["time"] = time;
    object["result"] = result;
    if (result != 0 && result != 1) object["end_code"] = EndCodeText(result);
    out_ << OneLine(object) << std::endl;
    return;
  }
  out_ << time << " ";
  ResultLine(result);
  out_.flush();
}

void Reporter::WatchEnded(std::int16_t result, long reads, long failures) {
  if (json_) {
    nlohmann::ordered_json object;
    object["result"] = result;
    if (result != 0 && result != 1) object["end_code"] = EndCodeText(result);
    object["reads"] = reads;
    object["failures"] = failures;
    object["messages"] = messages_;
    out_ << OneLine(object) << std::endl;
    return;
  }
  if (failures > 0) out_ << failures << " of " << reads << " reads failed\n";
  out_.flush();
}

void Reporter::Say(const std::string& line) {
  if (json_) return;
  out_ << line << std::endl;
}

void Reporter::Object(nlohmann::ordered_json object) {
  object["messages"] = messages_;
  out_ << OneLine(object) << std::endl;
}

}  // namespace kestova::cli
