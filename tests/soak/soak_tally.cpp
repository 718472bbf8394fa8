#include "soak_tally.h"

#include <iostream>

#include "soak_checks.h"

namespace kestova::soak {

void Tally::Mismatch(long call, const std::string& what) {
  ++mismatches;
  if (mismatches <= 20) std::cerr << "mismatch at call " << call << ": " << what << "\n";
}

std::string Tally::Summary() const {
  std::string faults_text;
  long injected = 0;
  for (int k = 1; k < kFaultKindCount; ++k) {
    injected += faults[static_cast<std::size_t>(k)];
    faults_text += std::string(faults_text.empty() ? "" : ",") + FaultName(static_cast<FaultKind>(k)) + "=" +
                   std::to_string(faults[static_cast<std::size_t>(k)]);
  }
  return "kestova-soak: calls=" + std::to_string(calls) + " (pty " + std::to_string(pty_calls) + ") faults=" + std::to_string(injected) + " (" +
         faults_text + ") mismatches=" + std::to_string(mismatches) +
         " log_records_checked=" + std::to_string(records_checked) +
         " boundary_timeouts=" + std::to_string(boundary_timeouts) +
         " longest_call_ms=" + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(longest_call).count()) +
         " longest_pty_call_ms=" + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(longest_pty_call).count());
}

std::vector<std::string> Compare(const Expectation& expected, const Observed& observed, const std::string& stamp) {
  std::vector<std::string> differences;
  if (!observed.result) {
    differences.push_back("run-time error " + observed.error);
  } else if (*observed.result != expected.result) {
    differences.push_back("result " + std::to_string(*observed.result) + ", expected " + std::to_string(expected.result));
  }
  const std::vector<std::string> events = expected.event ? std::vector<std::string>{*expected.event}
                                                         : std::vector<std::string>{};
  if (observed.events != events) {
    std::string text = "events [";
    for (const auto& e : observed.events) text += "\"" + e + "\" ";
    text += "], expected [";
    for (const auto& e : events) text += "\"" + e + "\" ";
    differences.push_back(text + "]");
  }
  bool lines_match = observed.log_lines.size() == expected.log_lines.size();
  for (std::size_t i = 0; lines_match && i < observed.log_lines.size(); ++i) {
    const std::string& line = observed.log_lines[i];
    if (i == 0) {
      const std::string head = line.substr(0, 19);
      const std::string rest = line.size() >= 19 ? line.substr(19) : "";
      // Nothing sent: the request text after the expected start is not known here.
      const bool text_matches = expected.nothing_sent ? rest.rfind(expected.log_lines[0], 0) == 0
                                                      : rest == expected.log_lines[0];
      lines_match = (stamp.empty() ? IsTimestamp(head) : head == stamp) && line.size() >= 19 && text_matches;
    } else {
      lines_match = line == expected.log_lines[i];
    }
  }
  if (!lines_match) {
    std::string text = "log lines [";
    for (const auto& l : observed.log_lines) text += "\"" + l + "\" ";
    text += "], expected [";
    for (std::size_t i = 0; i < expected.log_lines.size(); ++i) {
      text += "\"" + (i == 0 ? (stamp.empty() ? std::string("<stamp>") : stamp) : std::string()) + expected.log_lines[i] + "\" ";
    }
    differences.push_back(text + "]");
  }
  return differences;
}

}  // namespace kestova::soak
