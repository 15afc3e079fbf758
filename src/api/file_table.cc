#include "api/file_table.h"

namespace kestrum {
namespace {

constexpr unsigned kSlotBits = sizeof(std::uintptr_t) >= 8 ? 32 : 20;
constexpr std::uintptr_t kSlotMask = (std::uintptr_t{1} << kSlotBits) - 1;
constexpr std::uintptr_t kGenerationLimit = std::uintptr_t{1} << (sizeof(std::uintptr_t) * 8 - kSlotBits);

}  // namespace

FileTable::Slot* FileTable::LiveSlot(std::uintptr_t token) {
  const std::uintptr_t number = token & kSlotMask;
  if (number == 0 || number > slots_.size()) return nullptr;
  Slot& slot = *slots_[number - 1];
  return slot.live && slot.generation == token >> kSlotBits ? &slot : nullptr;
}

std::uintptr_t FileTable::Add(const PakFileHandle& handle) {
  const std::lock_guard<std::mutex> hold(mutex_);
  std::uint32_t index = 0;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    if (slots_.size() >= kSlotMask) return 0;
    free_.reserve(slots_.size() + 1);  // so that Remove never needs memory
    slots_.push_back(std::make_unique<Slot>());
    index = static_cast<std::uint32_t>(slots_.size() - 1);
  }
  Slot& slot = *slots_[index];
  slot.handle = handle;
  slot.live = true;
  return slot.generation << kSlotBits | (std::uintptr_t{index} + 1);
}

bool FileTable::Get(std::uintptr_t token, PakFileHandle& handle) {
  const std::lock_guard<std::mutex> hold(mutex_);
  const Slot* slot = LiveSlot(token);
  if (slot == nullptr) return false;
  handle = slot->handle;
  return true;
}

void FileTable::Put(std::uintptr_t token, const PakFileHandle& handle) {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (Slot* slot = LiveSlot(token)) slot->handle = handle;
}

bool FileTable::Remove(std::uintptr_t token) {
  const std::lock_guard<std::mutex> hold(mutex_);
  Slot* slot = LiveSlot(token);
  if (slot == nullptr) return false;
  slot->live = false;
  slot->generation = slot->generation + 1 < kGenerationLimit ? slot->generation + 1 : 1;
  free_.push_back(static_cast<std::uint32_t>((token & kSlotMask) - 1));
  return true;
}

FileTable& OpenFiles() {
  // Never destroyed: handles may still be closed while the process exits.
  static FileTable* table = new FileTable;
  return *table;
}

}  // namespace kestrum
