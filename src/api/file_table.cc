#include "api/file_table.h"

#include <atomic>

namespace kestrum {
namespace {

constexpr unsigned kSlotBits = sizeof(std::uintptr_t) >= 8 ? 32 : 20;
constexpr std::uintptr_t kSlotMask = (std::uintptr_t{1} << kSlotBits) - 1;
constexpr std::uintptr_t kGenerationLimit = std::uintptr_t{1} << (sizeof(std::uintptr_t) * 8 - kSlotBits);
// Slots per shard, so that every slot number stays within kSlotMask.
constexpr std::uintptr_t kShardCapacity = kSlotMask / FileTable::kShards;

// The shard in which the calling thread opens files: handed out in turn to
// threads as they first open one.
std::uint32_t ShardOfThisThread() {
  static std::atomic<std::uint32_t> next{0};
  thread_local const std::uint32_t shard = next.fetch_add(1, std::memory_order_relaxed) % FileTable::kShards;
  return shard;
}

}  // namespace

FileTable::Shard* FileTable::ShardOf(std::array<Shard, kShards>& shards, std::uintptr_t token) {
  const std::uintptr_t number = token & kSlotMask;
  if (number == 0) return nullptr;
  return &shards[(number - 1) % kShards];
}

FileTable::Slot* FileTable::LiveSlot(Shard& shard, std::uintptr_t token) {
  const std::uintptr_t index = ((token & kSlotMask) - 1) / kShards;
  if (index >= shard.slots.size()) return nullptr;
  Slot& slot = *shard.slots[index];
  return slot.live && slot.generation == token >> kSlotBits ? &slot : nullptr;
}

std::uintptr_t FileTable::Add(const PakFileHandle& handle) {
  const std::uint32_t own = ShardOfThisThread();
  for (std::uint32_t step = 0; step < kShards; ++step) {
    const std::uint32_t number = (own + step) % kShards;
    Shard& shard = shards_[number];
    const std::lock_guard<std::mutex> hold(shard.mutex);
    std::uint32_t index = 0;
    if (!shard.free.empty()) {
      index = shard.free.back();
      shard.free.pop_back();
    } else {
      if (shard.slots.size() >= kShardCapacity) continue;
      shard.free.reserve(shard.slots.size() + 1);  // so that Remove never needs memory
      shard.slots.push_back(std::make_unique<Slot>());
      index = static_cast<std::uint32_t>(shard.slots.size() - 1);
    }
    Slot& slot = *shard.slots[index];
    slot.handle = handle;
    slot.live = true;
    return slot.generation << kSlotBits | (std::uintptr_t{index} * kShards + number + 1);
  }
  return 0;
}

bool FileTable::Get(std::uintptr_t token, PakFileHandle& handle) {
  Shard* shard = ShardOf(shards_, token);
  if (shard == nullptr) return false;
  const std::lock_guard<std::mutex> hold(shard->mutex);
  const Slot* slot = LiveSlot(*shard, token);
  if (slot == nullptr) return false;
  handle = slot->handle;
  return true;
}

void FileTable::Put(std::uintptr_t token, const PakFileHandle& handle) {
  Shard* shard = ShardOf(shards_, token);
  if (shard == nullptr) return;
  const std::lock_guard<std::mutex> hold(shard->mutex);
  if (Slot* slot = LiveSlot(*shard, token)) slot->handle = handle;
}

bool FileTable::Remove(std::uintptr_t token) {
  Shard* shard = ShardOf(shards_, token);
  if (shard == nullptr) return false;
  const std::lock_guard<std::mutex> hold(shard->mutex);
  Slot* slot = LiveSlot(*shard, token);
  if (slot == nullptr) return false;
  slot->live = false;
  slot->generation = slot->generation + 1 < kGenerationLimit ? slot->generation + 1 : 1;
  shard->free.push_back(static_cast<std::uint32_t>(((token & kSlotMask) - 1) / kShards));
  return true;
}

FileTable& OpenFiles() {
  // Never destroyed: handles may still be closed while the process exits.
  static FileTable* table = new FileTable;
  return *table;
}

}  // namespace kestrum
