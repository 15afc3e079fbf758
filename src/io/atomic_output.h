// Output that appears at its path only when complete: data goes to a
// temporary file beside the target, which Commit() renames over the target.
// A file that is never committed is removed, so a failed run leaves neither a
// partial file nor a damaged earlier one.
#pragma once

#include <string>

#include "io/file.h"

namespace kestrum {

class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  AtomicOutputFile(AtomicOutputFile&&) = default;
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
};

}  // namespace kestrum
