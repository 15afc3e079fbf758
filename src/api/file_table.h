// The C interface's table of open kestrum_file handles. A handle is a token,
// (generation << kSlotBits) | (slot + 1), never a pointer that could dangle:
// a closed or invented token finds no live slot, and a slot that is used
// again gets a new generation, so an old token stays dead.
//
// Slots are never freed (only reused), and the caller's handle state is
// copied out and back under a mutex, so even two threads misusing one handle
// at once cannot reach freed memory.
//
// The slots are spread over shards, each with its own mutex: a thread opens
// its files in a shard of its own (while there are shards enough), so loader
// threads that open, read and close files at the same time do not contend
// for one lock. The slot number names the shard: slot = index * kShards +
// shard.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "reader/pak_reader.h"

namespace kestrum {

class FileTable {
 public:
  static constexpr std::uint32_t kShards = 16;

  // The token of a new live slot holding `handle`, in the calling thread's
  // shard or, when that is full (2^32 / kShards - 1 slots on 64-bit
  // systems, 2^20 / kShards - 1 on 32-bit ones), in the next one with room;
  // 0 when all are full. Throws std::bad_alloc.
  std::uintptr_t Add(const PakFileHandle& handle);
  // Copies out the handle of a live token; false for any other token.
  bool Get(std::uintptr_t token, PakFileHandle& handle);
  // Stores the handle back, if the token is still live.
  void Put(std::uintptr_t token, const PakFileHandle& handle);
  // Ends a live token; false for any other token.
  bool Remove(std::uintptr_t token);

 private:
  struct Slot {
    PakFileHandle handle;
    std::uintptr_t generation = 1;
    bool live = false;
  };
  // Each on cache lines of its own, so that threads using different shards
  // do not take each other's lines.
  struct alignas(64) Shard {
    std::mutex mutex;
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<std::uint32_t> free;
  };
  // The shard that a token names, and the slot in it when it is live.
  static Shard* ShardOf(std::array<Shard, kShards>& shards, std::uintptr_t token);
  static Slot* LiveSlot(Shard& shard, std::uintptr_t token);

  std::array<Shard, kShards> shards_;
};

// The process-wide table behind the C interface.
FileTable& OpenFiles();

}  // namespace kestrum
