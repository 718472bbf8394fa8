#pragma once
// What every operation works with: the control's configuration (routing, sum check,
// time-out), its device image, the host that hears MelsecOut, and one exchange over the
// control's port. The control owns all of it; the context only refers to it.

#include <cstdint>
#include <string>

#include "control/configuration.h"
#include "control/device_image.h"
#include "control/host.h"
#include "link/exchange.h"
#include "link/serial_port.h"

namespace kestova::operations {

class OperationContext {
 public:
  OperationContext(Host& host, SerialPort& port, const Configuration& configuration,
                   DeviceImage& image, LineState& line)
      : host_(host), port_(port), configuration_(configuration), image_(image), line_(line) {}

  // MelsecOut(text), delivered before the operation goes on.
  void Raise(const std::string& text) { host_.MelsecOut(text); }

  // Runs one exchange with the configuration as it is now: see RunExchange.
  std::int16_t Exchange(const ExchangePlan& plan);

  DeviceImage& image() { return image_; }

 private:
  Host& host_;
  SerialPort& port_;
  const Configuration& configuration_;
  DeviceImage& image_;
  LineState& line_;
};

}  // namespace kestova::operations
