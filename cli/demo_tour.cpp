#include "cli/demo_tour.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/control_session.h"
#include "sim/virtual_plc.h"
#include "values/device_name.h"

namespace kestova::cli {
namespace {

std::filesystem::path MakeTemporaryLogFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestova-demo-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot make a temporary log folder");
  }
  return pattern;
}

// Every line of every daily log file in the folder, oldest file first, without CR LF.
std::vector<std::string> LogLines(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".CEL") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> lines;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }
  return lines;
}

// The tour's running state: each step is narrated, its result checked against what the
// virtual PLC must give, and what it left in the messages and the log shown beside it.
class Tour {
 public:
  Tour(Reporter& reporter, ControlSession& session, sim::VirtualPlc& plc,
       std::filesystem::path log_folder)
      : reporter_(reporter), session_(session), plc_(plc), log_folder_(std::move(log_folder)) {}

  void Step(const std::string& title, const std::string& call, std::int16_t expected,
            const std::function<std::int16_t(Tarvane&)>& operation) {
    const std::size_t messages_before = reporter_.messages().size();
    const std::size_t log_before = LogLines(log_folder_).size();
    reporter_.Say("");
    reporter_.Say("# " + title);
    reporter_.Say("  " + call);
    const std::int16_t result = operation(session_.control());
    std::string outcome = "  -> result " + std::to_string(result);
    if (result != 0 && result != 1) outcome += " (end code " + EndCodeText(result) + ")";
    reporter_.Say(outcome);

    nlohmann::ordered_json step;
    step["step"] = call;
    step["result"] = result;
    step["expected"] = expected;

    nlohmann::ordered_json raised = nlohmann::ordered_json::array();
    const auto& messages = reporter_.messages();
    for (std::size_t k = messages_before; k < messages.size(); ++k) {
      reporter_.Say("  MelsecOut: \"" + messages[k] + "\"");
      raised.push_back(messages[k]);
    }
    if (!raised.empty()) step["messages"] = raised;

    const std::vector<std::string> log = LogLines(log_folder_);
    if (log.size() > log_before) {
      nlohmann::ordered_json logged = nlohmann::ordered_json::array();
      reporter_.Say("  logged in " + log_folder_.string() + ":");
      for (std::size_t k = log_before; k < log.size(); ++k) {
        reporter_.Say("    " + log[k]);
        logged.push_back(log[k]);
      }
      step["log"] = logged;
    }
    if (result != expected) {
      reporter_.Say("  !! expected result " + std::to_string(expected));
      all_as_expected_ = false;
    }
    steps_.push_back(std::move(step));
  }

  // Reads back and shows the first `visible` values (a bit read brings 16 per word).
  void Show(const std::string& title, const DeviceAddress& device, std::int16_t points,
            std::size_t visible) {
    const auto start = static_cast<std::int32_t>(device.number);
    Step(title, "read " + DeviceLabel(device) + " " + std::to_string(points), 0,
         [&](Tarvane& c) { return c.Read(device.family, start, points); });
    const std::vector<int> values = session_.ImageValues(device.family, start, points);
    nlohmann::ordered_json shown = nlohmann::ordered_json::array();
    for (std::size_t k = 0; k < values.size(); ++k) {
      shown.push_back(values[k]);
      if (k >= visible) continue;
      const std::string label = DeviceLabel(device.family, device.number + static_cast<std::int64_t>(k));
      reporter_.Say("     " + label + " " + std::to_string(values[k]));
    }
    if (values.size() > visible) {
      reporter_.Say("     (and " + std::to_string(values.size() - visible) + " more)");
    }
    steps_.back()["device"] = DeviceLabel(device);
    steps_.back()["values"] = shown;
  }

  void Note(const std::string& line) { reporter_.Say("  " + line); }

  bool all_as_expected() const { return all_as_expected_; }
  nlohmann::ordered_json steps() const { return steps_; }
  sim::VirtualPlc& plc() { return plc_; }

 private:
  Reporter& reporter_;
  ControlSession& session_;
  sim::VirtualPlc& plc_;
  std::filesystem::path log_folder_;
  nlohmann::ordered_json steps_ = nlohmann::ordered_json::array();
  bool all_as_expected_ = true;
};

const char* CpuStateName(sim::CpuState state) {
  return state == sim::CpuState::Run ? "RUN" : "STOP";
}

}  // namespace

ExitStatus RunDemoTour(Reporter& reporter, const std::filesystem::path& log_dir) {
  const std::filesystem::path log_folder = log_dir.empty() ? MakeTemporaryLogFolder() : log_dir;

  sim::VirtualPlc::Options plc_options;
  plc_options.sum_check = true;
  sim::VirtualPlc plc(plc_options);
  const std::string path = plc.Start();

  reporter.Say("Kestova demo: a virtual PLC (QnA-compatible 4C frame, format 5, sum check on)");
  reporter.Say("is answering on " + path + ".");
  reporter.Say("The communication error log goes to " + log_folder.string() + ".");

  ConnectionOptions options;
  options.port = path;
  options.sum_check = true;
  options.timeout = 1;
  options.log_dir = log_folder;
  ControlSession session(options, reporter);
  Tour tour(reporter, session, plc, log_folder);

  tour.Step("Write one word", "write D100 4660", 0,
            [](Tarvane& c) { return c.WriteD(100, 4660); });
  tour.Step("Write a negative word", "write D101 -21555", 0,
            [](Tarvane& c) { return c.WriteD(101, -21555); });
  tour.Show("Read both back", {DeviceFamily::D, 100, {}}, 2, 2);

  tour.Step("Set a bit (Y is numbered in hexadecimal: Y1F0 is device 496)", "set Y1F0", 0,
            [](Tarvane& c) { return c.SetY(0x1F0); });
  tour.Show("Read it back: one word holds the 16 bits Y1F0..Y1FF", {DeviceFamily::Y, 0x1F0, {}}, 1, 2);
  tour.Step("Reset it", "reset Y1F0", 0, [](Tarvane& c) { return c.ResetY(0x1F0); });
  tour.Show("Read it back", {DeviceFamily::Y, 0x1F0, {}}, 1, 2);

  const std::int16_t block[] = {1, 2, 3};
  tour.Step("Write a block of three words from W1A (the control is given W26)",
            "write-block W1A 1 2 3", 0,
            [&](Tarvane& c) { return c.WriteBlock("W26", 3, IntegerArray::ZeroBased(block)); });
  tour.Show("Read the block back", {DeviceFamily::W, 0x1A, {}}, 3, 3);

  tour.Step("Switch the CPU to STOP", "stop", 0, [](Tarvane& c) { return c.RemoteStop(); });
  tour.Note(std::string("the virtual PLC's CPU is now ") + CpuStateName(plc.cpu_state()));
  tour.Step("Switch it back to RUN, keeping memory (a plain `run` clears it outside the latch range)", "run 1 0", 0,
            [](Tarvane& c) { return c.RemoteRun(1, 0); });
  tour.Note(std::string("the virtual PLC's CPU is now ") + CpuStateName(plc.cpu_state()));

  plc.InjectFault(sim::Fault::ForcedEndCode(0x4031), 1);
  tour.Step("An error answer: the PLC refuses the next request with end code 0x4031 "
            "(no event, one log line)",
            "write D100 1", 0x4031, [](Tarvane& c) { return c.WriteD(100, 1); });

  plc.InjectFault(sim::Fault::NoAnswer(), 1);
  session.control().SetTimeout(0);
  tour.Step("A time-out: the PLC stays silent (Timeout 0 waits for the next whole second)",
            "read D100 1", 1, [](Tarvane& c) { return c.ReadD(100, 1); });
  session.control().SetTimeout(1);

  tour.Show("The line has recovered, and the refused write changed nothing",
            {DeviceFamily::D, 100, {}}, 1, 1);

  const bool passed = tour.all_as_expected();
  reporter.Say("");
  reporter.Say(passed ? "Demo finished: every step gave the result it should."
                      : "Demo finished: some steps did not give the result they should.");
  reporter.Say("The log files are kept in " + log_folder.string() + ".");
  if (reporter.json()) {
    nlohmann::ordered_json object;
    object["result"] = passed ? 0 : 1;
    object["plc"] = path;
    object["log_folder"] = log_folder.string();
    object["steps"] = tour.steps();
    reporter.Object(std::move(object));
  }
  return passed ? ExitStatus::kDone : ExitStatus::kRefused;
}

}  // namespace kestova::cli
