// Work cut into numbered chunks and run by two threads: the one that consumes
// the results and one helper. Chunks are handed out in increasing order, each
// run exactly once; the consumer takes them in order with Await, running
// chunks itself while the one it needs is not done yet. The consumer decides
// what is printed and written, always in order; the chunks only prepare.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrum {

class ParallelChunks {
 public:
  // At most this many chunks run at once, each on one worker: 0 is the
  // consumer, 1 the helper. A work may keep scratch space per worker.
  static constexpr std::size_t kWorkers = 2;
  using Work = std::function<void(std::size_t chunk, std::size_t worker)>;

  // Chunks [0, count) are to be run, but only ever those below the
  // allowance (see Allow), which starts at `allowed`.
  ParallelChunks(std::size_t count, std::size_t allowed);
  // Hands out no further chunk, lets the chunks under way finish, and joins
  // the helper. Chunks not yet handed out are never run.
  ~ParallelChunks();
  ParallelChunks(const ParallelChunks&) = delete;
  ParallelChunks& operator=(const ParallelChunks&) = delete;

  // Sets the work and starts the helper thread, once, before anything else.
  // The work may refer to this object (for WaitDone). When the system cannot
  // start a thread, the consumer runs every chunk itself.
  void Start(Work work);

  // Lets chunks below `allowed` be handed out; a lower value changes nothing.
  // Bounds how far the chunks may run ahead of the consumer.
  void Allow(std::size_t allowed);

  // Returns once `chunk` has run (it may be handed out from now on, whatever
  // the allowance); its effects are then visible to the caller. An exception
  // thrown by any chunk is thrown again here, and no further chunk is run.
  void Await(std::size_t chunk);

  // For use inside a chunk's work: waits, without running anything, until
  // the earlier chunk `chunk` has run. Chunks are handed out in order, so an
  // earlier chunk is always under way or done.
  void WaitDone(std::size_t chunk);

 private:
  // Hands out and runs the next chunk if one may be handed out; false when
  // none may. Called and returns with the lock held.
  bool RunNext(std::unique_lock<std::mutex>& lock, std::size_t worker);
  void HelperLoop();

  const std::size_t count_;
  Work work_;
  std::mutex mutex_;
  std::condition_variable handed_out_;  // more chunks allowed, or stopping
  std::condition_variable finished_;    // a chunk is done
  // Guarded by mutex_:
  std::size_t next_ = 0;
  std::size_t allowed_;
  bool stopping_ = false;
  std::vector<bool> done_;
  std::exception_ptr error_;
  std::thread helper_;  // last: starts once everything above is in place
};

}  // namespace kestrum
