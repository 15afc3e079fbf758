// The lock of one open pakfile: a mutual-exclusion lock with a non-blocking
// attempt. It meets the standard Lockable requirements, so std::lock_guard
// and std::unique_lock work with it. Each platform file keeps its own lock
// object (a mutex, a critical section) in the storage here.
#pragma once

#include <cstddef>

namespace kestrum {

class PakLock {
 public:
  PakLock();
  ~PakLock();
  PakLock(const PakLock&) = delete;
  PakLock& operator=(const PakLock&) = delete;

  void lock();
  // Takes the lock only if no other thread holds it; never waits.
  bool try_lock();
  void unlock();

  static constexpr std::size_t kStateSize = 64;

 private:
  alignas(16) unsigned char state_[kStateSize];
};

}  // namespace kestrum
