#include "io/slot_reader.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "format/mask.h"

namespace kestrum {
namespace {

constexpr std::uint32_t kBlockAlign = 4096;
constexpr std::uint32_t kStepBack = 2048;

bool Covers(const ReadSlot& slot, std::uint32_t block_size, std::uint64_t position) {
  return slot.position <= position && position < std::uint64_t{slot.position} + block_size;
}

bool WritingCopy(const PakStream& pak) { return pak.mode == StreamMode::kWritingCopy; }

}  // namespace

void AllocateSlots(PakStream& pak, std::uint32_t block_size) {
  pak.block_size = block_size;
  for (ReadSlot& slot : pak.slots) slot.buffer.assign(block_size, 0);
  ResetSlots(pak);
}

void ResetSlots(PakStream& pak) {
  for (ReadSlot& slot : pak.slots) {
    slot.position = 0;
    slot.valid = 0;
    slot.state = SlotState::kEmpty;
  }
}

void CloseStreamFile(PakStream& pak) {
  pak.file.Close();
  ResetSlots(pak);
}

std::uint32_t BlockStartFor(std::uint32_t position, std::uint32_t block_size) {
  std::uint32_t start = position < kStepBack ? 0 : (position - kStepBack) & ~(kBlockAlign - 1);
  // A 4 KiB block cannot reach 2048 bytes back and still hold the position.
  if (position - start >= block_size) start = position & ~(kBlockAlign - 1);
  return start;
}

void IssueBlockRead(PakStream& pak, std::uint32_t block_position, int i) {
  if (block_position >= pak.limit) return;
  ReadSlot& slot = pak.slots[static_cast<std::size_t>(i)];
  const std::size_t count = std::min<std::size_t>({pak.block_size, pak.limit - block_position, slot.buffer.size()});
  // A transfer still under way into the buffer is collected by StartRead
  // first, its outcome dropped.
  slot.position = block_position;
  slot.valid = 0;
  switch (StartRead(pak.file, i, block_position, std::span(slot.buffer).first(count))) {
    case TransferStart::kCompleted:
      slot.state = SlotState::kLoaded;
      slot.valid = AwaitTransfer(pak.file, i).bytes;  // already complete; does not wait
      break;
    case TransferStart::kPending:
      slot.state = SlotState::kPending;
      break;
    case TransferStart::kFailed:
      slot.state = SlotState::kFailed;
      break;
  }
}

int PrepareBlocks(PakStream& pak, std::uint32_t position, std::uint64_t end) {
  const std::uint32_t block = pak.block_size;
  const int i = Covers(pak.slots[0], block, position) ? 0 : 1;
  const ReadSlot& slot = pak.slots[static_cast<std::size_t>(i)];
  std::uint32_t start = slot.position;
  // A covering slot is not reloaded, unless its read failed: a failure is
  // reported to the request that met it, and the next request that needs
  // the block reads it again.
  if (!Covers(slot, block, position) || slot.state == SlotState::kEmpty || slot.state == SlotState::kFailed) {
    start = BlockStartFor(position, block);
    IssueBlockRead(pak, start, i);
  }

  // Read ahead the following block, except when the caller works near the
  // start of this block and the other slot already holds the one before it.
  const std::uint32_t other = pak.slots[static_cast<std::size_t>(1 - i)].position;
  std::uint64_t target = std::uint64_t{start} + block;
  if (end >= start && end - start < kBlockAlign && start >= block && other == start - block) {
    target = start - block;
  }
  if (target == other && slot.state != SlotState::kEmpty) return i;
  if (target >= pak.limit) return i;
  IssueBlockRead(pak, static_cast<std::uint32_t>(target), 1 - i);
  return i;
}

bool AwaitBlock(PakStream& pak, int i) {
  ReadSlot& slot = pak.slots[static_cast<std::size_t>(i)];
  if (slot.state == SlotState::kPending) {
    const TransferOutcome outcome = AwaitTransfer(pak.file, i);
    slot.state = outcome.ok ? SlotState::kLoaded : SlotState::kFailed;
    slot.valid = outcome.ok ? outcome.bytes : 0;
  }
  if (slot.state == SlotState::kFailed) {
    if (WritingCopy(pak)) StopCacheCopy(pak);
    return false;
  }
  // Before unmasking, so that the copy receives the bytes as stored.
  if (WritingCopy(pak)) WriteThroughBlock(pak, i);
  if (slot.state == SlotState::kLoaded) {
    MaskData(std::span(slot.buffer).first(slot.valid));
    slot.state = SlotState::kReady;
  }
  return true;
}

void WriteThroughBlock(PakStream& pak, int i) {
  const ReadSlot& slot = pak.slots[static_cast<std::size_t>(i)];
  const std::uint64_t start = slot.position;
  const std::uint64_t have = start + slot.valid;
  const std::uint64_t from = pak.copy_pos;
  if (from < start || from >= have) return;
  ReadSlot& copy = pak.copy_slot;
  const std::size_t count = static_cast<std::size_t>(have - from);
  // Only bytes as stored may go to the copy; an unmasked block cannot
  // continue it.
  if (slot.state != SlotState::kLoaded || copy.buffer.size() < count) {
    StopCacheCopy(pak);
    return;
  }
  if (copy.state == SlotState::kPending) {
    if (!AwaitTransfer(pak.cache_file, 0).ok) {
      copy.state = SlotState::kFailed;
      StopCacheCopy(pak);
      return;
    }
    copy.state = SlotState::kLoaded;
  }
  // The read slot is unmasked right after this and may be refilled, so the
  // write goes from the copy slot's own buffer.
  std::memcpy(copy.buffer.data(), slot.buffer.data() + (from - start), count);
  switch (StartWrite(pak.cache_file, 0, from, std::span(copy.buffer).first(count))) {
    case TransferStart::kCompleted:
      copy.state = SlotState::kLoaded;
      pak.copy_pos += static_cast<std::uint32_t>(count);
      break;
    case TransferStart::kPending:  // a queued write counts as written
      copy.state = SlotState::kPending;
      pak.copy_pos += static_cast<std::uint32_t>(count);
      break;
    case TransferStart::kFailed:
      copy.state = SlotState::kFailed;
      StopCacheCopy(pak);
      break;
  }
}

void StopCacheCopy(PakStream& pak) {
  ReadSlot& copy = pak.copy_slot;
  if (copy.state == SlotState::kPending) {
    CancelTransfers(pak.cache_file);
    (void)AwaitTransfer(pak.cache_file, 0);
  }
  pak.mode = StreamMode::kPlain;
  pak.cache_file.Close();
  if (!pak.copy_temp_path.empty()) {
    (void)RemoveFile(pak.copy_temp_path);
    pak.copy_temp_path.clear();
  }
  std::vector<std::uint8_t>().swap(copy.buffer);
  copy.state = SlotState::kEmpty;
}

bool SlotsHold(const PakStream& pak, std::uint32_t position) {
  for (const ReadSlot& slot : pak.slots) {
    if (!Covers(slot, pak.block_size, position)) continue;
    if (slot.state == SlotState::kLoaded || slot.state == SlotState::kReady || slot.state == SlotState::kPending) {
      return true;
    }
  }
  return false;
}

std::uint32_t ReadSpan(PakStream& pak, std::uint32_t position, std::uint32_t count, std::uint8_t* destination) {
  const std::uint32_t block = pak.block_size;
  if (block == 0) return 0;
  std::uint64_t pos = position;
  std::uint32_t remaining = count;
  // Writing a copy, everything between the copy's end and the wanted bytes
  // is read (and written through) first, so the copy gets no hole.
  std::uint64_t load = pos;
  if (WritingCopy(pak) && position > pak.copy_pos) load = pak.copy_pos;
  std::uint32_t copied = 0;

  int i = PrepareBlocks(pak, static_cast<std::uint32_t>(load), pos + remaining);
  while (remaining > 0) {
    if (!AwaitBlock(pak, i)) break;
    const ReadSlot& slot = pak.slots[static_cast<std::size_t>(i)];
    // Nothing could be loaded for the load position (it lies at or beyond
    // the read limit).
    if (slot.state != SlotState::kReady || !Covers(slot, block, load)) break;
    const std::uint64_t start = slot.position;
    if (start + block > pos) {
      // Only bytes that were read are handed out; a short block means the
      // file ends before the wanted bytes.
      const std::uint64_t have = start + slot.valid;
      if (pos >= have) break;
      const auto k = static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, have - pos));
      std::memcpy(destination + copied, slot.buffer.data() + (pos - start), k);
      pos += k;
      remaining -= k;
      copied += k;
      load = pos;
    } else {
      load = start + block;  // the block lies wholly before the wanted bytes
    }
    if (load > 0xFFFFFFFFu) break;
    // Also after the last chunk, so that the caller's next read is already
    // on its way when this returns.
    i = PrepareBlocks(pak, static_cast<std::uint32_t>(load), pos + remaining);
  }
  return copied;
}

}  // namespace kestrum
