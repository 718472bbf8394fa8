#include "control/plain_host.h"

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

namespace kestova {
namespace {

std::filesystem::path ProgramFolder() {
  std::error_code ec;
#ifdef _WIN32
  // The C runtime keeps the program's full path; no Windows header needed for it.
  const char* program = _pgmptr;
  return program != nullptr ? std::filesystem::path(program).parent_path() : std::filesystem::path();
#else
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
#endif
}

bool Writable(const std::filesystem::path& folder) {
  if (folder.empty()) return false;
#ifdef _WIN32
  return _access(folder.string().c_str(), 2) == 0;
#else
  return ::access(folder.c_str(), W_OK) == 0;
#endif
}

std::filesystem::path StateFolder() {
#ifdef _WIN32
  if (const char* local = std::getenv("LOCALAPPDATA")) return std::filesystem::path(local) / "Kestova";
  return std::filesystem::temp_directory_path() / "Kestova";
#else
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
    return std::filesystem::path(state) / "kestova";
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::filesystem::path(home) / ".local" / "state" / "kestova";
  }
  return std::filesystem::temp_directory_path() / "kestova";
#endif
}

}  // namespace

std::filesystem::path PlainHost::DefaultLogFolder() {
  std::filesystem::path own = ProgramFolder();
  return Writable(own) ? own : StateFolder();
}

std::filesystem::path PlainHost::UserStateFolder() { return StateFolder(); }

void PlainHost::AddMelsecOutHandler(MelsecOutHandler handler) {
  handlers_.push_back(std::move(handler));
}

void PlainHost::SetPropertyChangedHandler(std::function<void(std::string_view)> handler) {
  property_changed_ = std::move(handler);
}

void PlainHost::SetAboutBoxHandler(std::function<void(const std::string&)> handler) {
  about_box_ = std::move(handler);
}

void PlainHost::SetLogFolder(std::filesystem::path folder) {
  log_folder_ = std::move(folder);
  log_folder_made_ = false;
}

void PlainHost::PropertyChanged(std::string_view property_name) {
  if (property_changed_) property_changed_(property_name);
}

void PlainHost::MelsecOut(const std::string& result) {
  // Copy the list: a handler may register another handler while it runs.
  const std::vector<MelsecOutHandler> handlers = handlers_;
  for (const MelsecOutHandler& handler : handlers) {
    std::string copy = result;
    handler(copy);
  }
}

std::filesystem::path PlainHost::OwnFolder() {
  if (log_folder_.empty()) log_folder_ = DefaultLogFolder();
  if (!log_folder_made_) {
    std::error_code ec;
    std::filesystem::create_directories(log_folder_, ec);  // a failure shows when the log is written
    log_folder_made_ = true;
  }
  return log_folder_;
}

void PlainHost::ShowAboutBox(const std::string& version_line) {
  if (about_box_) {
    about_box_(version_line);
  } else {
    std::cout << "Kestova\n" << version_line << "\n";
  }
}

LocalDateTime PlainHost::LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  const auto since_second = now - std::chrono::system_clock::from_time_t(seconds);
  LocalDateTime result;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = local.tm_sec;
  result.nanosecond = std::chrono::duration_cast<std::chrono::nanoseconds>(since_second).count();
  if (result.nanosecond < 0) result.nanosecond = 0;
  return result;
}

MonotonicTime PlainHost::MonotonicNow() { return std::chrono::steady_clock::now(); }

}  // namespace kestova
