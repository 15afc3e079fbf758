// Temporary files that must not outlive an interrupted process. When the
// process is ended by an interrupt, a termination request or a hang-up, every
// file registered here is removed first, and the process then ends the way
// that event ends it:
//  - POSIX: SIGINT, SIGTERM, SIGHUP, and SIGPIPE (output into a pipe nobody
//    reads); the signal's default action follows, so a shell sees the status
//    128 + the signal's number. A signal that the process was started with
//    ignored stays ignored, and one that already has a handler keeps it.
//  - Windows: Ctrl-C, Ctrl-Break and the console window being closed; the
//    system's default handling follows.
// The handlers are installed the first time a file is registered. What they
// do is safe to do in a signal handler: they remove the registered paths and
// nothing else.
#pragma once

#include <string>

namespace kestrum {

// Lives while the calling thread creates a temporary file and registers it,
// so that no signal can fall between the two: signals wait on this thread
// (POSIX), and a handler running on another thread leaves the signal to this
// one (POSIX) or waits until the scope ends (Windows).
class CleanupRegistrationScope {
 public:
  CleanupRegistrationScope();
  ~CleanupRegistrationScope();
  CleanupRegistrationScope(const CleanupRegistrationScope&) = delete;
  CleanupRegistrationScope& operator=(const CleanupRegistrationScope&) = delete;
};

// Registers the file at `path`, which the caller has just created, for
// removal on a signal; call it inside a CleanupRegistrationScope. Returns a
// ticket for ForgetOnSignal, or -1 when the path cannot be registered (too
// many files at once, or a path too long): that file is then left behind by
// a signal.
int RemoveOnSignal(const std::string& path);

// Drops a registration once its file has been renamed or removed. Ignores -1.
void ForgetOnSignal(int ticket);

// For the platform files: installs the handlers, once.
void InstallCleanupHandlers();
// For the platform files: holds the cleanup signals off on the calling
// thread, and lets them through again (what they did while held follows).
void HoldCleanupSignals();
void ReleaseCleanupSignals();
// For the platform files: ends the process by a signal that a handler left
// to the registration under way (see DeferWhileRegistering), once that
// registration is complete.
void EndByDeferredSignal(int sig);
// For a handler: when a registration is under way on another thread, leaves
// the signal to it and returns true; the handler then simply returns, and
// the registering thread ends the process as soon as its file is
// registered. A handler that waited instead would let the other threads go
// on meanwhile. Safe in a signal handler.
bool DeferWhileRegistering(int sig);
// Whether a registration is under way on some thread.
bool RegistrationUnderWay();
// For the handlers, and for a process that must end at once: removes every
// registered file with `remove`. Safe in a signal handler.
void RemoveRegisteredFiles(void (*remove)(const char* path));

}  // namespace kestrum
