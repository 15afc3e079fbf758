// POSIX handlers of the cleanup on signal: remove the registered files, then
// end by the signal itself, with its default action.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "io/cleanup_on_signal.h"

namespace kestrum {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t CleanupSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kCleanupSignals) sigaddset(&set, sig);
  return set;
}

void Unlink(const char* path) { (void)::unlink(path); }

// Removes the registered files and raises the signal again, now with its
// default action. The signal is held on this thread (by the handler, or by
// the registration scope) and ends the process as soon as it is let through.
void EndBySignal(int sig) {
  RemoveRegisteredFiles(&Unlink);
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(sig, &default_action, nullptr);
  ::raise(sig);
}

extern "C" void OnCleanupSignal(int sig) {
  const int saved_errno = errno;
  if (!DeferWhileRegistering(sig)) EndBySignal(sig);
  errno = saved_errno;
}

// The mask of the thread inside a CleanupRegistrationScope, to restore.
thread_local sigset_t held_from;

}  // namespace

void InstallCleanupHandlers() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action = {};
    action.sa_handler = &OnCleanupSignal;
    action.sa_mask = CleanupSignalSet();  // one cleanup at a time
    action.sa_flags = SA_RESTART;
    for (const int sig : kCleanupSignals) {
      struct sigaction current;
      if (::sigaction(sig, nullptr, &current) != 0) continue;
      // Ignored (nohup, a background job) or handled by someone else: left so.
      if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
      ::sigaction(sig, &action, nullptr);
    }
  });
}

void HoldCleanupSignals() {
  const sigset_t set = CleanupSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &set, &held_from);
}

void ReleaseCleanupSignals() { ::pthread_sigmask(SIG_SETMASK, &held_from, nullptr); }

void EndByDeferredSignal(int sig) { EndBySignal(sig); }

}  // namespace kestrum
