#pragma once
// The control's host inside the .ocx: events go to the connected __Tarvane sinks,
// property changes to the IPropertyNotifySink sinks (and mark the control dirty), the
// About box is a dialog resource of the module, the log folder is the module's folder
// when it is writable (see log_folder.h).

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "control/host.h"
#include "server/connection_point.h"

namespace kestova::server {

class ComHost : public Host {
 public:
  ComHost(ConnectionPoint& events, ConnectionPoint& property_notify, bool& dirty);

  // The window that owns the About box; none until a container hands one over.
  void SetOwnerWindowSource(std::function<HWND()> source) { owner_window_ = std::move(source); }
  // While this says so (the container froze events), MelsecOut is dropped.
  void SetEventsHeldSource(std::function<bool()> source) { events_held_ = std::move(source); }

  void PropertyChanged(std::string_view property_name) override;
  void MelsecOut(const std::string& result) override;
  std::filesystem::path OwnFolder() override;
  void ShowAboutBox(const std::string& version_line) override;
  LocalDateTime LocalNow() override;
  MonotonicTime MonotonicNow() override;

 private:
  ConnectionPoint& events_;
  ConnectionPoint& property_notify_;
  bool& dirty_;
  std::function<HWND()> owner_window_;
  std::function<bool()> events_held_;
};

}  // namespace kestova::server
