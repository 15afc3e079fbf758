#include "io/atomic_output.h"

#include "io/cleanup_on_signal.h"

namespace kestrum {

bool AtomicOutputFile::Open(const std::string& target) {
  Discard();
  if (target.empty() || IsDirectory(target)) return false;
  {
    const CleanupRegistrationScope scope;
    file_ = CreateTemporaryBeside(target, temp_path_);
    if (file_) cleanup_ticket_ = RemoveOnSignal(temp_path_);
  }
  if (!file_) return false;
  target_ = target;
  return true;
}

bool AtomicOutputFile::Commit() {
  if (temp_path_.empty()) return false;
  const bool closed = file_.Close();
  if (!closed || !RenameReplacing(temp_path_, target_)) {
    Discard();
    return false;
  }
  // Renamed: a signal from now on must not remove anything.
  ForgetOnSignal(cleanup_ticket_);
  cleanup_ticket_ = -1;
  temp_path_.clear();
  return true;
}

void AtomicOutputFile::Discard() {
  file_.Close();
  if (!temp_path_.empty()) {
    RemoveFile(temp_path_);
    temp_path_.clear();
  }
  ForgetOnSignal(cleanup_ticket_);
  cleanup_ticket_ = -1;
}

}  // namespace kestrum
