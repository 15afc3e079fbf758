#include "builder/parallel_chunks.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace kestrum {

ParallelChunks::ParallelChunks(std::size_t count, std::size_t allowed)
    : count_(count), allowed_(allowed), done_(count) {}

void ParallelChunks::Start(Work work) {
  work_ = std::move(work);
  if (count_ < 2) return;  // nothing to share
  try {
    helper_ = std::thread([this] { HelperLoop(); });
  } catch (const std::exception&) {
    // No second thread to be had (the system refuses one, or there is no
    // memory for it): Await runs every chunk on its own.
  }
}

ParallelChunks::~ParallelChunks() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  handed_out_.notify_all();
  if (helper_.joinable()) helper_.join();
}

void ParallelChunks::Allow(std::size_t allowed) {
  {
    const std::lock_guard lock(mutex_);
    if (allowed <= allowed_) return;
    allowed_ = allowed;
  }
  handed_out_.notify_all();
}

void ParallelChunks::Await(std::size_t chunk) {
  std::unique_lock lock(mutex_);
  // The awaited chunk itself may always be handed out, else this would wait
  // for ever.
  allowed_ = std::max(allowed_, chunk + 1);
  while (!done_[chunk] && !error_) {
    if (!RunNext(lock, 0)) finished_.wait(lock);
  }
  if (error_) std::rethrow_exception(error_);
}

void ParallelChunks::WaitDone(std::size_t chunk) {
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return done_[chunk]; });
}

bool ParallelChunks::RunNext(std::unique_lock<std::mutex>& lock, std::size_t worker) {
  if (stopping_ || next_ >= std::min(count_, allowed_)) return false;
  const std::size_t chunk = next_++;
  lock.unlock();
  std::exception_ptr error;
  try {
    work_(chunk, worker);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  done_[chunk] = true;
  if (error && !error_) {
    error_ = error;
    stopping_ = true;
  }
  finished_.notify_all();
  return true;
}

void ParallelChunks::HelperLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_ && next_ < count_) {
    if (!RunNext(lock, 1)) handed_out_.wait(lock);
  }
}

}  // namespace kestrum
