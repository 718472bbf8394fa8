#pragma once
// A host whose clocks the tests move. The local clock is a fixed wall-clock instant plus
// however far the monotonic clock has been advanced, so a 3-second time-out or a midnight
// roll-over takes no real time. Events, change notifications and About boxes are
// recorded; the log folder is a fresh temporary folder removed with the host.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "control/host.h"

namespace kestova::testing {

class TestHost : public Host {
 public:
  TestHost();
  ~TestHost() override;

  void SetLocalTime(int year, int month, int day, int hour, int minute, int second,
                    std::int64_t nanosecond = 0);
  void Advance(std::chrono::nanoseconds by);

  // Lines of a log file without their CR LF (and a check that every line had one).
  std::vector<std::string> LogLines(const std::string& file_name) const;
  std::string LogText(const std::string& file_name) const;
  // Every .CEL file in the log folder.
  std::vector<std::string> LogFiles() const;

  std::vector<std::string> events;
  std::vector<std::string> changed;
  std::vector<std::string> about_boxes;
  // Runs inside MelsecOut, after the text is recorded.
  std::function<void(const std::string&)> on_melsec_out;
  std::filesystem::path log_folder;

  void PropertyChanged(std::string_view property_name) override;
  void MelsecOut(const std::string& result) override;
  std::filesystem::path OwnFolder() override { return log_folder; }
  void ShowAboutBox(const std::string& version_line) override;
  LocalDateTime LocalNow() override;
  MonotonicTime MonotonicNow() override { return monotonic_; }

 private:
  std::chrono::sys_time<std::chrono::nanoseconds> wall_;
  MonotonicTime monotonic_{};
};

}  // namespace kestova::testing
