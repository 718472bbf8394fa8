#include "cli/control_session.h"

#include <optional>

#include "cli/number_text.h"
#include "cli/usage_error.h"
#include "link/automation_error.h"
#include "link/line_settings.h"
#include "link/platform_port.h"

namespace kestova::cli {
namespace {

// "3" and "0x3" name a port by number; anything else is a device path.
std::optional<std::int64_t> PortNumber(const std::string& port) {
  try {
    return ParseNumber(port, "--port");
  } catch (const UsageError&) {
    return std::nullopt;
  }
}

}  // namespace

ControlSession::ControlSession(const ConnectionOptions& options, Reporter& reporter) {
  host_.AddMelsecOutHandler([&reporter](std::string& text) { reporter.Message(text); });
  if (!options.log_dir.empty()) host_.SetLogFolder(options.log_dir);

  const std::optional<std::int64_t> number = PortNumber(options.port);
  control_ = std::make_unique<Tarvane>(
      host_, number ? MakePlatformSerialPort() : MakePlatformSerialPort(options.port));
  control_->InitProperties();
  if (number) control_->SetCommPort(ToInteger(*number));
  try {
    control_->SetSettings(options.settings);
  } catch (const AutomationError& e) {
    // The control's 380 stays the error; the tool adds which field is wrong.
    const std::string fault = LineSettingsFault(options.settings);
    if (e.number() != ErrorNumber::InvalidPropertyValue || fault.empty()) throw;
    throw AutomationError(e.number(),
                          std::string(e.description()) + " (--settings " + options.settings + ": " + fault + ")");
  }
  control_->SetHandshaking(ToLong(options.handshaking));
  control_->SetTimeout(ToInteger(options.timeout));
  control_->SetStationNo(ToInteger(options.station));
  control_->SetNetworkNo(ToInteger(options.network));
  control_->SetPCNumber(ToInteger(options.pc));
  control_->SetRqstDestMdIO(ToLong(options.module_io));
  control_->SetRqstDestMdSta(ToInteger(options.module_station));
  control_->SetSumCheck(options.sum_check);
  control_->SetPortOpen(true);
}

std::vector<int> ControlSession::ImageValues(DeviceFamily family, std::int32_t start,
                                            std::int16_t points) const {
  const int per_point = IsBitFamily(family) ? 16 : 1;
  std::vector<int> values;
  values.reserve(static_cast<std::size_t>(points * per_point));
  for (std::int32_t k = 0; k < points * per_point; ++k) values.push_back(control_->Image(family, start + k));
  return values;
}

ControlSession::~ControlSession() {
  try {
    if (control_->PortOpen()) control_->SetPortOpen(false);
  } catch (...) {
    // A port that fails while closing has nothing left to tell; the command's own outcome
    // has been reported already.
  }
}

}  // namespace kestova::cli
