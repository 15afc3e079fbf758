// The platform-neutral part of WriteBatch: the plain calls, which finish what
// the queued service left undone, and do everything where there is none.
#include "io/write_batch.h"

#include "io/batch_mode.h"

namespace kestrum {

WriteBatch::WriteBatch(std::size_t files) : capacity_(1) {
  if (files > 1 && !PlainBatchesForced()) ring_.reset(write_batch::MakeRing(files));
  if (ring_) capacity_ = files;
  files_.reserve(capacity_);
}

WriteBatch::~WriteBatch() { Discard(); }

void WriteBatch::Add(File file, std::span<const std::uint8_t> data) {
  files_.push_back({.handle = file.Release(), .data = data});
}

std::size_t WriteBatch::Run() {
  // A ring holds the requests of `capacity_` files at most.
  const bool fits = files_.size() <= capacity_;
  if (ring_ && fits && !files_.empty() && !write_batch::RunChain(*ring_, files_)) {
    ring_.reset();
    capacity_ = 1;
  }
  for (std::size_t k = 0; k < files_.size(); ++k) {
    if (!Finish(files_[k])) return k;
  }
  const std::size_t done = files_.size();
  files_.clear();
  return done;
}

void WriteBatch::Discard() {
  for (Queued& q : files_) {
    if (q.handle != File::kInvalid) File(q.handle).Close();
  }
  files_.clear();
}

// Completes one file with plain calls, from wherever the queued service left
// it (nothing done, a short write, a write that failed, a close not made).
// The file is closed afterwards in every case.
bool WriteBatch::Finish(Queued& q) {
  File file(q.handle);
  q.handle = File::kInvalid;
  if (q.abandoned) {
    (void)file.Release();
    return false;
  }
  const std::size_t done = q.write_ran && q.written > 0 ? static_cast<std::size_t>(q.written) : 0;
  bool ok = done >= q.data.size() || WriteFullyAt(file, done, q.data.subspan(done));
  if (q.close_ran) {
    (void)file.Release();  // the service closed it
    return ok && q.closed == 0;
  }
  ok = file.Close() && ok;
  return ok;
}

}  // namespace kestrum
