#pragma once
// A host for plain C++ programs: MelsecOut goes to the handlers registered here, the
// clocks are the system's, and the log folder is the program's own folder when it is
// writable, else a per-user state folder ($XDG_STATE_HOME/kestova or
// ~/.local/state/kestova; %LOCALAPPDATA%\Kestova on Windows).

#include <functional>
#include <string>
#include <vector>

#include "control/host.h"

namespace kestova {

class PlainHost : public Host {
 public:
  // Each handler receives its own copy of the text; what it does to it is ignored.
  using MelsecOutHandler = std::function<void(std::string& result)>;

  void AddMelsecOutHandler(MelsecOutHandler handler);
  void SetPropertyChangedHandler(std::function<void(std::string_view)> handler);
  // Without a handler the About box is printed to standard output.
  void SetAboutBoxHandler(std::function<void(const std::string&)> handler);
  // Overrides the default log folder (created when missing).
  void SetLogFolder(std::filesystem::path folder);

  // The program's own folder when it is writable, else UserStateFolder().
  static std::filesystem::path DefaultLogFolder();
  // $XDG_STATE_HOME/kestova or ~/.local/state/kestova (%LOCALAPPDATA%\Kestova on Windows).
  static std::filesystem::path UserStateFolder();

  void PropertyChanged(std::string_view property_name) override;
  void MelsecOut(const std::string& result) override;
  std::filesystem::path OwnFolder() override;
  void ShowAboutBox(const std::string& version_line) override;
  LocalDateTime LocalNow() override;
  MonotonicTime MonotonicNow() override;

 private:
  std::vector<MelsecOutHandler> handlers_;
  std::function<void(std::string_view)> property_changed_;
  std::function<void(const std::string&)> about_box_;
  std::filesystem::path log_folder_;
  bool log_folder_made_ = false;
};

}  // namespace kestova
