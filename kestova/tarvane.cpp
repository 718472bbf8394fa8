#include "kestova/tarvane.h"

#include "kestova/version.h"

namespace kestova {

Tarvane::Tarvane(Host& host, std::unique_ptr<SerialPort> port)
    : host_(host),
      port_(std::move(port)),
      configuration_(host_, *port_),
      context_(host_, *port_, configuration_, image_, line_) {}

Tarvane::~Tarvane() = default;

std::string Tarvane::VersionLine() {
  return "Version " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
         std::to_string(kVersionPatch);
}

}  // namespace kestova
