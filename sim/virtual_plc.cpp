#include "sim/virtual_plc.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "sim/fault_scheduler.h"
#include "sim/frame_decoder.h"
#include "sim/line_timing.h"
#include "sim/output_schedule.h"
#include "sim/terminal.h"

namespace kestova::sim {
namespace {

using Clock = std::chrono::steady_clock;

// How long the sum characters may take after DLE ETX.
constexpr auto kSumWait = std::chrono::milliseconds(100);

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

timespec Until(Clock::time_point deadline) {
  const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return ts;
}

std::optional<Clock::time_point> Earliest(std::optional<Clock::time_point> a,
                                          std::optional<Clock::time_point> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace

// The serving side: owns the terminal and the thread; the station is shared with callers.
class VirtualPlc::Server {
 public:
  explicit Server(Options options)
      : options_(std::move(options)),
        paced_(options_.paced),
        timing_(LineTiming::Parse(options_.settings)) {
    station_.set_sum_check(options_.sum_check);
  }

  ~Server() { Stop(); }

  std::string Start();
  void Stop();

  Station station_;

  mutable std::mutex mutex_;  // guards everything below that the thread shares
  mutable std::condition_variable changed_;
  FaultScheduler faults_;
  std::vector<ReceivedRequest> requests_;
  std::size_t answers_sent_ = 0;

  void SetPacing(bool on, const std::string& settings) {
    const auto timing = LineTiming::Parse(settings);
    std::scoped_lock lock(mutex_);
    paced_ = on;
    timing_ = timing;
  }

 private:
  void Serve();
  // Returns false when the line has gone (end of file or a hard error).
  bool ReadInput(FrameDecoder& decoder, OutputSchedule& out,
                 std::optional<Clock::time_point>& sum_deadline);
  void Handle(ReceivedRequest request, OutputSchedule& out);
  // Writes what is due; returns false when the line would block.
  bool WriteDue(OutputSchedule& out);
  void MakeLink(const std::string& target);

  Options options_;
  bool paced_;         // under mutex_
  LineTiming timing_;  // under mutex_
  std::optional<Terminal> terminal_;
  int wake_fd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::string link_made_;
};

std::string VirtualPlc::Server::Start() {
  if (thread_.joinable()) throw std::logic_error("virtual PLC already started");
  terminal_ = options_.device.empty() ? Terminal::OpenPseudoTerminal()
                                      : Terminal::OpenDevice(options_.device, timing_);
  try {
    if (!options_.link_path.empty()) MakeLink(terminal_->path());
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) ThrowErrno("eventfd");
    stopping_ = false;
    thread_ = std::thread(&Server::Serve, this);
  } catch (...) {
    Stop();
    throw;
  }
  return terminal_->path();
}

void VirtualPlc::Server::Stop() {
  stopping_ = true;
  if (wake_fd_ >= 0) {
    const std::uint64_t one = 1;
    // The counter cannot overflow with one pending wake; a failure leaves the thread
    // to notice stopping_ on its next wake-up.
    (void)!write(wake_fd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (wake_fd_ >= 0) close(wake_fd_);
  wake_fd_ = -1;
  terminal_.reset();
  if (!link_made_.empty()) unlink(link_made_.c_str());
  link_made_.clear();
}

void VirtualPlc::Server::MakeLink(const std::string& target) {
  const auto& link = options_.link_path;
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    // Replace a link left by an earlier run, but never a real file.
    if (!S_ISLNK(st.st_mode))
      throw std::system_error(EEXIST, std::generic_category(), link + " exists and is not a link");
    if (unlink(link.c_str()) != 0) ThrowErrno(link);
  }
  if (symlink(target.c_str(), link.c_str()) != 0) ThrowErrno(link);
  link_made_ = link;
}

void VirtualPlc::Server::Serve() {
  FrameDecoder decoder(station_.sum_check());
  OutputSchedule out;
  std::optional<Clock::time_point> sum_deadline;
  bool blocked = false;
  const int fd = terminal_->fd();

  while (!stopping_) {
    if (decoder.awaiting_sum() && sum_deadline && Clock::now() >= *sum_deadline) {
      sum_deadline.reset();
      if (auto request = decoder.ExpireSum()) Handle(std::move(*request), out);
    }
    if (!blocked) blocked = !WriteDue(out);

    std::optional<Clock::time_point> wake;
    if (!blocked) wake = out.NextDue();
    if (decoder.awaiting_sum()) wake = Earliest(wake, sum_deadline);

    pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
                     {wake_fd_, POLLIN, 0}};
    timespec timeout{};
    if (wake) timeout = Until(*wake);
    const int ready = ppoll(fds, 2, wake ? &timeout : nullptr, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "kestova-plcsim: poll: %s\n", std::strerror(errno));
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents & POLLOUT) blocked = false;
    const bool gone = (fds[0].revents & POLLIN)
                          ? !ReadInput(decoder, out, sum_deadline)
                          : (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    if (gone) {
      // A device unplugged: waiting on it again would spin.
      std::fprintf(stderr, "kestova-plcsim: %s hung up\n", terminal_->path().c_str());
      return;
    }
  }
}

bool VirtualPlc::Server::ReadInput(FrameDecoder& decoder, OutputSchedule& out,
                                   std::optional<Clock::time_point>& sum_deadline) {
  std::uint8_t buffer[4096];
  const auto n = read(terminal_->fd(), buffer, sizeof buffer);
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  if (n == 0) return false;
  const auto arrived = Clock::now();
  decoder.set_sum_check(station_.sum_check());
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
    if (auto request = decoder.Feed(buffer[i])) {
      request->received_at = arrived;
      Handle(std::move(*request), out);
    }
    if (!decoder.awaiting_sum())
      sum_deadline.reset();
    else if (!sum_deadline)
      sum_deadline = arrived + kSumWait;
  }
  return true;
}

void VirtualPlc::Server::Handle(ReceivedRequest request, OutputSchedule& out) {
  if (request.received_at == Clock::time_point{}) request.received_at = Clock::now();
  // A station that restarts on a new request forgets the answer it was holding back.
  out.DropUnstarted();

  std::optional<Answer> answer;
  AnswerPlan plan;
  bool paced = false;
  std::chrono::nanoseconds char_time{0};
  if (request.header_ok) {
    {
      std::scoped_lock lock(mutex_);
      plan = faults_.Next();
      paced = paced_;
      char_time = timing_.CharacterTime();
    }
    if (plan.end_code) {
      answer = Answer{request.routing, *plan.end_code, {}};
    } else {
      answer = station_.Execute(request);
    }
  }

  const auto received_at = request.received_at;
  const std::vector<std::uint8_t> request_raw = plan.echo ? request.raw : std::vector<std::uint8_t>{};
  {
    // Recorded after the command ran, so a test that waited for it sees its effect.
    std::scoped_lock lock(mutex_);
    requests_.push_back(std::move(request));
  }
  changed_.notify_all();
  if (!answer) return;

  OutputSchedule::Transmission t;
  t.bytes = ShapeAnswer(*answer, plan, station_.sum_check(), request_raw);
  t.start = received_at + plan.delay;
  t.gap = plan.trickle_gap;
  t.char_time = paced ? char_time : std::chrono::nanoseconds(0);
  t.droppable = plan.delay.count() > 0 && !plan.send_anyway;
  out.Add(std::move(t));
  if (plan.hold.count() > 0) {
    // XOFF after the answer, XON the hold later; never dropped, or the line stays held.
    OutputSchedule::Transmission hold;
    hold.bytes = {0x13, 0x11};
    hold.start = received_at;
    hold.gap = plan.hold;
    out.Add(std::move(hold));
  }
}

bool VirtualPlc::Server::WriteDue(OutputSchedule& out) {
  for (;;) {
    const auto due = out.Due(Clock::now());
    if (due.empty()) return true;
    const auto n = write(terminal_->fd(), due.data(), due.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return false;
      // Nobody can take these bytes; drop them rather than retry for ever.
      std::fprintf(stderr, "kestova-plcsim: write: %s\n", std::strerror(errno));
      out.DropFront();
      continue;
    }
    if (out.Consumed(static_cast<std::size_t>(n))) {
      {
        std::scoped_lock lock(mutex_);
        ++answers_sent_;
      }
      changed_.notify_all();
    }
  }
}

VirtualPlc::VirtualPlc() : VirtualPlc(Options{}) {}
VirtualPlc::VirtualPlc(Options options) : server_(std::make_unique<Server>(std::move(options))) {}
VirtualPlc::~VirtualPlc() { Stop(); }

std::string VirtualPlc::Start() { return server_->Start(); }
void VirtualPlc::Stop() { server_->Stop(); }

DeviceMemory& VirtualPlc::memory() { return server_->station_.memory(); }
CpuState VirtualPlc::cpu_state() const { return server_->station_.cpu_state(); }
void VirtualPlc::set_cpu_state(CpuState state) { server_->station_.set_cpu_state(state); }
void VirtualPlc::set_sum_check(bool on) { server_->station_.set_sum_check(on); }
bool VirtualPlc::sum_check() const { return server_->station_.sum_check(); }
void VirtualPlc::set_pacing(bool on, std::string settings) { server_->SetPacing(on, settings); }
Station& VirtualPlc::station() { return server_->station_; }

void VirtualPlc::InjectFault(const Fault& fault, int next_requests) {
  std::scoped_lock lock(server_->mutex_);
  server_->faults_.Add(fault, next_requests);
}

void VirtualPlc::InjectFault(const Fault& fault, double probability, std::uint32_t seed) {
  std::scoped_lock lock(server_->mutex_);
  server_->faults_.Add(fault, probability, seed);
}

void VirtualPlc::ClearFaults() {
  std::scoped_lock lock(server_->mutex_);
  server_->faults_.Clear();
}

std::vector<ReceivedRequest> VirtualPlc::requests() const {
  std::scoped_lock lock(server_->mutex_);
  return server_->requests_;
}

std::size_t VirtualPlc::request_count() const {
  std::scoped_lock lock(server_->mutex_);
  return server_->requests_.size();
}

void VirtualPlc::ClearRequests() {
  std::scoped_lock lock(server_->mutex_);
  server_->requests_.clear();
}

bool VirtualPlc::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(server_->mutex_);
  return server_->changed_.wait_for(lock, timeout, [&] { return server_->requests_.size() >= n; });
}

std::size_t VirtualPlc::answers_sent() const {
  std::scoped_lock lock(server_->mutex_);
  return server_->answers_sent_;
}

bool VirtualPlc::WaitForAnswers(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(server_->mutex_);
  return server_->changed_.wait_for(lock, timeout, [&] { return server_->answers_sent_ >= n; });
}

}  // namespace kestova::sim
