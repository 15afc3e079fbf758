// The listed files of a build: checked (opened, found to be regular files and
// measured), held open from the check to the copy, and read, in groups.
//
// Files are numbered 0 to count - 1 (their list lines). They are checked in
// groups of `group` consecutive numbers, each group starting at a multiple
// of `group`; two threads may check two groups at once. Reading takes pieces
// of any files, in order; a file's pieces come from one thread at a time,
// its first piece before the others.
//
// Two services do the same: with the system's queued one (Linux: io_uring,
// files held as registered direct descriptors, which do not count against
// the process's descriptor limit) a file costs one system call of its own,
// the one that measures it, and shares the calls that open, read and close a
// whole group; with plain calls (other systems, and where rings are not to be
// had) each file is opened, measured, read and closed on its own, and the
// files beyond the descriptor limit are opened again for the copy.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kestrum {

// What the check found of one file.
struct InputCheck {
  bool exists = false;  // a regular file that could be opened for reading
  std::uint64_t length = 0;
};

// One piece of a file to read, where the copy wants it.
struct InputPiece {
  std::uint32_t file = 0;
  std::uint64_t length = 0;  // the file's length when it was checked
  std::string_view path;     // by which it was checked (for its first piece)
  std::uint64_t offset = 0;  // of the piece in the file
  std::span<std::uint8_t> into;
  bool first = false;  // the file's first piece: it must still be the file checked, of that length
  bool last = false;   // its last piece: the file must end there, and is closed afterwards
};

enum class InputStatus : std::uint8_t {
  kOk,
  kChanged,  // gone, replaced, or of another length than when it was checked
  kFailed,   // the system could not read it
};

// How reading a run of pieces went: the first piece that was not read in
// full, if any (`failed` is then its position).
struct InputOutcome {
  InputStatus status = InputStatus::kOk;
  std::size_t failed = 0;
};

namespace input_files {
class Plain;    // the plain calls
struct Queued;  // the system's queued service, when it has one
struct QueuedDeleter {
  void operator()(Queued* queued) const;
};
}  // namespace input_files

class InputFiles {
 public:
  InputFiles(std::size_t count, std::size_t group);
  ~InputFiles();
  InputFiles(const InputFiles&) = delete;
  InputFiles& operator=(const InputFiles&) = delete;

  // True when the system's queued service does the work.
  bool queued() const;

  // Checks files first .. first + paths.size() - 1 (`first` a multiple of the
  // group size) by their paths, as this system opens a listed file; an empty
  // path is no file. Fills `out` (one per path).
  void Check(std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out);

  // Reads the pieces into their spans, in order, stopping at the first that
  // fails; a file's last piece closes it whatever happened.
  InputOutcome Read(std::span<const InputPiece> pieces);

  // Lets go of a checked file: the copy opens it again by its path. For
  // tests, which thus reach that path on any machine.
  void Forget(std::uint32_t file);

 private:
  std::unique_ptr<input_files::Queued, input_files::QueuedDeleter> queued_;
  std::unique_ptr<input_files::Plain> plain_;  // where there is no queued service
};

}  // namespace kestrum
