// Windows: the console control handler (Ctrl-C, Ctrl-Break, closing the window) sets a
// manual-reset event, and waiting is a wait on that event with the timeout.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <system_error>

#include "cli/stop_signal.h"

namespace kestova::cli {
namespace {

// The handler runs on a thread of its own and can reach nothing but a static: the event
// of the installed StopSignal, null while none is installed.
std::atomic<HANDLE> installed_event{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
  const HANDLE event = installed_event.load();
  if (event == nullptr) return FALSE;
  ::SetEvent(event);
  return TRUE;
}

}  // namespace

struct StopSignal::Platform {
  HANDLE event = nullptr;
};

StopSignal::StopSignal() : platform_(std::make_unique<Platform>()) {
  platform_->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (platform_->event == nullptr) {
    const DWORD error = ::GetLastError();
    throw std::system_error(static_cast<int>(error), std::system_category(), "CreateEvent");
  }
  HANDLE expected = nullptr;
  if (!installed_event.compare_exchange_strong(expected, platform_->event)) {
    ::CloseHandle(platform_->event);
    throw std::logic_error("a StopSignal is already installed");
  }
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopSignal::~StopSignal() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  installed_event.store(nullptr);
  ::CloseHandle(platform_->event);
}

bool StopSignal::WaitFor(std::chrono::milliseconds timeout) {
  if (raised_) return true;
  // INFINITE itself is the largest count, so longer finite waits stop just short of it.
  const DWORD wait_ms = timeout.count() < 0 ? INFINITE
                        : static_cast<DWORD>(std::min<long long>(timeout.count(), INFINITE - 1));
  if (::WaitForSingleObject(platform_->event, wait_ms) == WAIT_OBJECT_0) raised_ = true;
  return raised_;
}

}  // namespace kestova::cli
