#include "io/lock.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace kestrum {
namespace {

bool TryFromAnotherThread(PakLock& lock) {
  bool taken = false;
  std::thread([&] {
    taken = lock.try_lock();
    if (taken) lock.unlock();
  }).join();
  return taken;
}

TEST(PakLock, TheAttemptFailsWhileAnotherThreadHoldsItAndTheLockSerialises) {
  PakLock lock;
  EXPECT_TRUE(TryFromAnotherThread(lock));
  {
    const std::lock_guard<PakLock> hold(lock);
    EXPECT_FALSE(TryFromAnotherThread(lock));
  }
  EXPECT_TRUE(TryFromAnotherThread(lock));

  // Two threads adding under the lock lose no update.
  long counter = 0;
  auto add = [&] {
    for (int i = 0; i < 100000; ++i) {
      const std::lock_guard<PakLock> hold(lock);
      counter = counter + 1;
    }
  };
  std::thread a(add), b(add);
  a.join();
  b.join();
  EXPECT_EQ(counter, 200000);
}

}  // namespace
}  // namespace kestrum
