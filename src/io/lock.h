// The lock of one open pakfile: an ordinary mutex with a non-blocking
// attempt. It meets the standard Lockable requirements, so std::lock_guard
// and std::unique_lock work with it.
#pragma once

#include <mutex>

namespace kestrum {

class PakLock {
 public:
  void lock() { mutex_.lock(); }
  // Takes the lock only if no other thread holds it; never waits.
  bool try_lock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace kestrum
