// The registry of files to remove on a signal, shared by the platforms. The
// handler may run on any thread at any moment, so the registry lives in
// static storage and is reached through lock-free atomics only: a slot is
// filled while it is marked kFilling and read by the handler only once it is
// kReady, which the handler claims by turning it into kRemoving.
#include "io/cleanup_on_signal.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

namespace kestrum {
namespace {

enum SlotState : int { kFree, kFilling, kReady, kRemoving };

constexpr int kSlots = 8;
constexpr std::size_t kMaxPath = 4096;

struct Slot {
  std::atomic<int> state{kFree};
  char path[kMaxPath + 1] = {};
};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free atomics");

Slot slots[kSlots];
// Threads inside a CleanupRegistrationScope.
std::atomic<int> registering{0};
// A signal that a handler left for the registration under way to act on.
std::atomic<int> deferred_signal{0};

}  // namespace

CleanupRegistrationScope::CleanupRegistrationScope() {
  InstallCleanupHandlers();
  HoldCleanupSignals();
  registering.fetch_add(1);
}

CleanupRegistrationScope::~CleanupRegistrationScope() {
  registering.fetch_sub(1);
  // A handler on another thread found this registration under way and left
  // the signal to it: the process ends now, its files removed. (Either the
  // handler sees the count drop, or this sees its signal: both are
  // sequentially consistent.)
  if (const int sig = deferred_signal.exchange(0); sig != 0) EndByDeferredSignal(sig);
  ReleaseCleanupSignals();
}

bool DeferWhileRegistering(int sig) {
  deferred_signal.store(sig);
  return registering.load() > 0;
}

bool RegistrationUnderWay() { return registering.load() > 0; }

int RemoveOnSignal(const std::string& path) {
  // Absolute, so that the path still names the file if the current
  // directory changes.
  std::string full_path;
  try {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    if (!error) full_path = full.string();
  } catch (const std::exception&) {
    // No memory for it, or a name that the system's path type cannot take:
    // the path as given is registered.
  }
  const std::string& absolute = full_path.empty() ? path : full_path;
  if (absolute.empty() || absolute.size() > kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].path, absolute.c_str(), absolute.size() + 1);
    slots[i].state.store(kReady);
    return i;
  }
  return -1;
}

void ForgetOnSignal(int ticket) {
  if (ticket < 0 || ticket >= kSlots) return;
  std::atomic<int>& state = slots[ticket].state;
  for (;;) {
    int expected = kReady;
    if (state.compare_exchange_strong(expected, kFree)) return;
    // Gone already (the handler removed it), or being removed by a handler
    // on another thread, which then ends the process.
    if (expected != kRemoving) return;
    std::this_thread::yield();
  }
}

void RemoveRegisteredFiles(void (*remove)(const char* path)) {
  for (Slot& slot : slots) {
    int expected = kReady;
    if (!slot.state.compare_exchange_strong(expected, kRemoving)) continue;
    remove(slot.path);
    slot.state.store(kFree);
  }
}

}  // namespace kestrum
