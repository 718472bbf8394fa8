#include "server/module.h"

#include <atomic>
#include <vector>

namespace kestova::server {
namespace {

// One per loaded module, as the loader gives one DllMain per module.
HINSTANCE g_instance = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

}  // namespace

void Module::Attach(HINSTANCE instance) { g_instance = instance; }

HINSTANCE Module::Instance() { return g_instance; }

std::filesystem::path Module::File() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(g_instance, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

void Module::ObjectCreated() { ++g_objects; }
void Module::ObjectDestroyed() { --g_objects; }
void Module::Lock() { ++g_locks; }
void Module::Unlock() {
  // An unlock without its lock is ignored: it must not cancel a later lock.
  long locks = g_locks.load();
  while (locks > 0 && !g_locks.compare_exchange_weak(locks, locks - 1)) {
  }
}
bool Module::InUse() { return g_objects.load() > 0 || g_locks.load() > 0; }

}  // namespace kestova::server
