// Newly created files given their bytes and closed in groups. Each file added
// is written from its start and closed, in the order added, with as few
// requests to the system as it allows: on Linux one chain of linked io_uring
// requests per group, so that a whole group costs one system call; elsewhere
// (and where rings are not to be had) a group holds one file, done with plain
// calls as soon as Run is called.
//
// The first file whose write or close does not complete in full ends the
// group: whatever the queued service left undone for it is tried once more
// with plain calls, and if that fails too, nothing added after it is written
// or closed. A failed close counts as a failed write (a full disk or quota
// can show only there).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "io/file.h"

namespace kestrum {

namespace write_batch {
struct Ring;  // the platform's queued service, when it has one
struct RingDeleter {
  void operator()(Ring* ring) const;
};
}  // namespace write_batch

class WriteBatch {
 public:
  // Groups of at most `files` files (1 without a queued service).
  explicit WriteBatch(std::size_t files);
  ~WriteBatch();
  WriteBatch(const WriteBatch&) = delete;
  WriteBatch& operator=(const WriteBatch&) = delete;

  std::size_t capacity() const { return capacity_; }
  std::size_t size() const { return files_.size(); }
  bool full() const { return files_.size() >= capacity_; }
  bool queued() const { return ring_ != nullptr; }

  // Adds a file, open for writing and empty, and the bytes it is to get; the
  // bytes must stay alive until Run has returned.
  void Add(File file, std::span<const std::uint8_t> data);

  // Writes and closes the files added since the last Run, in order. Returns
  // how many were written and closed in full: all of them, or fewer when the
  // one after those failed. That one is closed; the ones after it are left
  // open, unwritten, until Discard.
  std::size_t Run();

  // Closes whatever a failed Run left open and empties the group.
  void Discard();

  // The outcome of one file's requests, filled in by the queued service.
  struct Queued {
    std::intptr_t handle = File::kInvalid;
    std::span<const std::uint8_t> data;
    std::int64_t written = 0;  // bytes written, or minus the error
    int closed = 0;            // 0 when closed, or minus the error
    bool write_ran = false;    // the service carried the write out (it was not cancelled)
    bool close_ran = false;    // the same for the close
    bool abandoned = false;    // the service broke down: the file is failed and left alone
  };

 private:
  bool Finish(Queued& file);

  std::size_t capacity_;
  std::vector<Queued> files_;
  std::unique_ptr<write_batch::Ring, write_batch::RingDeleter> ring_;
};

namespace write_batch {
// For the platform files: a ring for groups of `files` files, or nothing when
// the system has none to give. RunChain runs one group as a chain that stops
// at the first failure, and fills in what ran; false when the ring must not
// be used again (the plain calls then finish this group and do every later
// one).
Ring* MakeRing(std::size_t files);
bool RunChain(Ring& ring, std::span<WriteBatch::Queued> files);
}  // namespace write_batch

}  // namespace kestrum
