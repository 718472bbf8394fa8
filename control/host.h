#pragma once
// What the control needs from whoever hosts it. The COM shell, the plain C++ host and the
// test host implement it. All calls come on the host's thread, one at a time.

#include <filesystem>
#include <string>
#include <string_view>

#include "link/clock.h"

namespace kestova {

class Host : public Clock {
 public:
  // After every property let that took effect, under the property's own name.
  virtual void PropertyChanged(std::string_view property_name) = 0;

  // Delivers MelsecOut(Result) synchronously to every handler, before the operation goes
  // on. Each handler receives the control's text; whatever a handler does to its copy is
  // ignored.
  virtual void MelsecOut(const std::string& result) = 0;

  // The folder for the daily communication error log (".CEL").
  virtual std::filesystem::path OwnFolder() = 0;

  // Shows the About box modally; version_line is "Version " + major.minor.revision.
  virtual void ShowAboutBox(const std::string& version_line) = 0;
};

}  // namespace kestova
