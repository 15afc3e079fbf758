#include "builder/parallel_chunks.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrum {
namespace {

void Pause() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }

TEST(ParallelChunks, EveryChunkRunsOnceOnAWorkerOfItsOwnAndAwaitSeesWhatItWrote) {
  constexpr std::size_t kCount = 2000;
  std::vector<std::size_t> values(kCount);  // plain memory: Await must order it
  std::vector<std::atomic<int>> runs(kCount);
  // Chunks running at once never share a worker (whose scratch they use).
  std::array<std::atomic<int>, ParallelChunks::kWorkers> busy{};
  {
    ParallelChunks chunks(kCount, kCount);
    chunks.Start([&](std::size_t c, std::size_t worker) {
      ASSERT_LT(worker, ParallelChunks::kWorkers);
      EXPECT_EQ(busy[worker].exchange(1), 0) << "chunk " << c;
      values[c] = c * c + 1;
      runs[c].fetch_add(1);
      if (c % 10 == 0) Pause();
      busy[worker].store(0);
    });
    for (std::size_t c = 0; c < kCount; ++c) {
      chunks.Await(c);
      ASSERT_EQ(values[c], c * c + 1) << "chunk " << c;
    }
  }
  for (std::size_t c = 0; c < kCount; ++c) EXPECT_EQ(runs[c].load(), 1) << "chunk " << c;
}

TEST(ParallelChunks, AllowanceBoundsHowFarChunksRunAhead) {
  constexpr std::size_t kCount = 200;
  constexpr std::size_t kAhead = 3;
  std::atomic<std::size_t> highest{0};
  ParallelChunks chunks(kCount, kAhead);
  chunks.Start([&](std::size_t c, std::size_t /*worker*/) {
    std::size_t seen = highest.load();
    while (seen < c && !highest.compare_exchange_weak(seen, c)) {
    }
    Pause();
  });
  for (std::size_t c = 0; c < kCount; ++c) {
    chunks.Await(c);
    // Chunks below c + kAhead at most have been handed out so far.
    ASSERT_LT(highest.load(), c + kAhead) << "after chunk " << c;
    chunks.Allow(c + 1 + kAhead);
  }
}

TEST(ParallelChunks, WaitDoneInsideAChunkSeesTheEarlierChunk) {
  constexpr std::size_t kCount = 400;
  std::vector<std::size_t> values(kCount);
  std::vector<std::size_t> copied(kCount);
  ParallelChunks chunks(kCount, kCount);
  chunks.Start([&](std::size_t c, std::size_t /*worker*/) {
    if (c % 2 == 0) {
      Pause();
      values[c] = c + 7;
    } else {
      chunks.WaitDone(c - 1);
      copied[c] = values[c - 1];
    }
  });
  for (std::size_t c = 1; c < kCount; c += 2) {
    chunks.Await(c);
    ASSERT_EQ(copied[c], c + 6) << "chunk " << c;
  }
}

TEST(ParallelChunks, AnExceptionComesOutOfAwaitAndStopsTheRest) {
  constexpr std::size_t kCount = 10000;
  std::atomic<std::size_t> runs{0};
  std::size_t awaited = 0;
  {
    ParallelChunks chunks(kCount, 50);
    chunks.Start([&](std::size_t c, std::size_t /*worker*/) {
      runs.fetch_add(1);
      if (c == 20) throw std::runtime_error("chunk 20");
    });
    try {
      for (; awaited < kCount; ++awaited) {
        chunks.Await(awaited);
        chunks.Allow(awaited + 50);
      }
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "chunk 20");
    }
  }
  EXPECT_LE(awaited, 20u);
  EXPECT_LT(runs.load(), 71u);  // chunk 20 failed while at most 70 were allowed
}

}  // namespace
}  // namespace kestrum
