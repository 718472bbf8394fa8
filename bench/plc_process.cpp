#include "bench/plc_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "bench/paced_relay.h"
#include "sim/virtual_plc.h"

namespace kestova::bench {
namespace {

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

Pipe MakePipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

void WriteLine(int fd, const std::string& text) {
  const std::string line = text + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t written = ::write(fd, line.data() + done, line.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (!(written < 0 && errno == EINTR)) {
      return;
    }
  }
}

std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t count = ::read(fd, &c, 1);
    if (count == 1) {
      if (c == '\n') return line;
      line.push_back(c);
    } else if (count == 0) {
      return line.empty() ? "!the virtual PLC exited before it served" : line;
    } else if (errno != EINTR) {
      return "!cannot read from the virtual PLC process";
    }
  }
}

// The child: serve until the parent closes its end, then stop cleanly.
[[noreturn]] void ServeInChild(const PlcConfig& config, int report_fd, int keep_serving_fd) {
  int status = 0;
  try {
    sim::VirtualPlc::Options options;
    options.sum_check = config.sum_check;
    options.paced = config.paced;
    options.settings = config.settings;
    sim::VirtualPlc plc(options);
    const std::string plc_path = plc.Start();
    std::optional<PacedRelay> relay;
    if (config.paced) relay.emplace(plc_path, config.settings);
    WriteLine(report_fd, relay ? relay->path() : plc_path);
    char c = 0;
    for (;;) {
      const ssize_t count = ::read(keep_serving_fd, &c, 1);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
    }
    relay.reset();
    plc.Stop();
  } catch (const std::exception& error) {
    WriteLine(report_fd, std::string("!") + error.what());
    status = 1;
  }
  ::_exit(status);
}

}  // namespace

PlcProcess::PlcProcess(const PlcConfig& config) {
  Pipe report = MakePipe();
  Pipe keep_serving = MakePipe();
  child_ = ::fork();
  if (child_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (child_ == 0) {
    report.read.Reset();
    keep_serving.write.Reset();
    ServeInChild(config, report.write.get(), keep_serving.read.get());
  }
  report.write.Reset();
  keep_serving.read.Reset();
  keep_serving_ = std::move(keep_serving.write);
  const std::string line = ReadLine(report.read.get());
  if (line.empty() || line.front() == '!') {
    keep_serving_.Reset();
    ::waitpid(child_, nullptr, 0);
    throw std::runtime_error("virtual PLC: " + (line.empty() ? std::string("no path") : line.substr(1)));
  }
  path_ = line;
}

PlcProcess::~PlcProcess() {
  keep_serving_.Reset();
  int status = 0;
  while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace kestova::bench
