// Output that appears at its path only when complete: data goes to a
// temporary file beside the target, which Commit() renames over the target.
// A file that is never committed is removed, so a failed run leaves neither a
// partial file nor a damaged earlier one; so is one whose process is ended
// by an interrupt, a termination request or a hang-up (cleanup_on_signal.h).
// Whatever is at the target's path is replaced, a symbolic link included.
#pragma once

#include <string>
#include <utility>

#include "io/file.h"

namespace kestrum {

class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  AtomicOutputFile(AtomicOutputFile&& other) noexcept
      : file_(std::move(other.file_)),
        target_(std::move(other.target_)),
        temp_path_(std::exchange(other.temp_path_, std::string())),
        cleanup_ticket_(std::exchange(other.cleanup_ticket_, -1)) {}
  AtomicOutputFile& operator=(AtomicOutputFile&&) = delete;
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
  ~AtomicOutputFile() { Discard(); }

  // Fails when the target cannot be replaced (it is a directory) or no file
  // can be created beside it.
  bool Open(const std::string& target);

  const File& file() const { return file_; }
  bool is_open() const { return file_.valid(); }

  // Closes the file and moves it over the target. On failure the temporary
  // file is removed and false returned.
  bool Commit();
  // Closes and removes the temporary file, if any.
  void Discard();

 private:
  File file_;
  std::string target_;
  std::string temp_path_;
  int cleanup_ticket_ = -1;  // its registration for removal on a signal
};

}  // namespace kestrum
