#include "cli/simulate_command.h"

#include "cli/stop_signal.h"
#include "sim/virtual_plc.h"

namespace kestova::cli {

ExitStatus RunSimulator(Reporter& reporter, const SimulateOptions& options) {
  // Installed before the PLC starts, so an early Ctrl-C still stops it cleanly.
  StopSignal stop;
  sim::VirtualPlc::Options plc_options;
  plc_options.sum_check = options.sum_check;
  plc_options.link_path = options.link_path;
  sim::VirtualPlc plc(plc_options);
  const std::string path = plc.Start();

  if (reporter.json()) {
    nlohmann::ordered_json object;
    object["path"] = path;
    if (!options.link_path.empty()) object["link"] = options.link_path;
    object["sum_check"] = options.sum_check;
    reporter.Object(std::move(object));
  } else {
    reporter.Say("Virtual PLC answering on " + path +
                 (options.link_path.empty() ? "" : " (also " + options.link_path + ")") +
                 ", sum check " + (options.sum_check ? "on" : "off") + ".");
    reporter.Say("Connect with: kestova --port " +
                 (options.link_path.empty() ? path : options.link_path) +
                 (options.sum_check ? " --sumcheck" : "") + " read D0 1");
    reporter.Say("Ctrl-C stops it.");
  }
  stop.WaitForever();
  plc.Stop();
  reporter.Say("Virtual PLC stopped.");
  return ExitStatus::kDone;
}

}  // namespace kestova::cli
