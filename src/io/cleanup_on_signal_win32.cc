// Windows handler of the cleanup on signal: a console control handler. The
// system runs it on a thread of its own for Ctrl-C, Ctrl-Break and a closing
// console; it removes the registered files and hands the event on, so that
// the default handling ends the process. Meanwhile the other threads go on;
// a build that completes in that moment keeps its pakfile. The temporary files are opened with
// delete sharing (CreateTemporaryBeside), so they can be deleted while the
// writer still holds them; they go when the process ends.
#include <windows.h>

#include <mutex>

#include "io/cleanup_on_signal.h"

namespace kestrum {
namespace {

void Delete(const char* path) { (void)DeleteFileA(path); }

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    // A registration under way takes a few calls; it is waited for, a
    // little, so that its file is removed too.
    for (int waits = 0; RegistrationUnderWay() && waits < 1000; ++waits) Sleep(1);
    RemoveRegisteredFiles(&Delete);
  }
  return FALSE;
}

}  // namespace

void InstallCleanupHandlers() {
  static std::once_flag installed;
  std::call_once(installed, [] { SetConsoleCtrlHandler(&OnConsoleEvent, TRUE); });
}

// The handler runs on a thread of its own, never inside a registration, and
// waits for those under way: nothing to hold.
void HoldCleanupSignals() {}
void ReleaseCleanupSignals() {}

// The handler never leaves a signal to a registration here; should one be
// left, it ends the process as Ctrl-C does.
void EndByDeferredSignal(int) {
  RemoveRegisteredFiles(&Delete);
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace kestrum
