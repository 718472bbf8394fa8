#pragma once
// One control, set up as the options say, with its port open for the life of the session.
// The plain C++ host carries the control's MelsecOut texts to the reporter.

#include <cstdint>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/reporter.h"
#include "control/plain_host.h"
#include "kestova/tarvane.h"

namespace kestova::cli {

class ControlSession {
 public:
  // Creates the control, applies the options and opens the port. Whatever the control or
  // the port refuses is raised as its AutomationError.
  ControlSession(const ConnectionOptions& options, Reporter& reporter);
  ~ControlSession();  // closes the port
  ControlSession(const ControlSession&) = delete;
  ControlSession& operator=(const ControlSession&) = delete;

  Tarvane& control() { return *control_; }
  // The values a successful read left in the device image: 16 devices per word for a bit
  // family (0 or 1 each, from the start device up), one signed word per point otherwise.
  std::vector<int> ImageValues(DeviceFamily family, std::int32_t start, std::int16_t points) const;
  PlainHost& host() { return host_; }

 private:
  PlainHost host_;
  std::unique_ptr<Tarvane> control_;
};

}  // namespace kestova::cli
