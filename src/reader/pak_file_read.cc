// Reads of files inside pakfiles take one of two roads.
//
// Through the read slots (io/slot_reader.h), under the pakfile's lock: for a
// read whose first byte the slots already hold or are loading, which is how
// files opened in data order are read (the open starts the file's block, and
// the slots stream on from there, block by block, with a read-ahead under
// way, also from a cold disk); for a small read that leaves more of its file
// to read (a file read in small pieces: the block serves the next ones too);
// and always while a cache copy is being written, which the slots write
// strictly in order.
//
// Straight into the caller's buffer otherwise: one positional read of
// exactly the wanted bytes, unmasked in place, with no lock held. A file read
// whole out of order costs exactly its bytes, and threads reading different
// files of one pakfile do not wait for each other. Such a read is recognised
// without touching the lock, from what the slots looked like when it was
// last released, so readers on several cores share no written memory.
//
// The slots are shared by every thread that reads the pakfile. A thread that
// finds the lock taken does not wait for the other thread's transfer: it
// reads its bytes directly. (A cache copy being written is continued by the
// next read that takes the lock, and completed at close.)
#include "reader/pak_file_read.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <span>

#include "format/mask.h"
#include "reader/pak_registry.h"

namespace kestrum {
namespace {

// A piece this small that leaves more of its file to read goes through the
// slots: the block it loads serves the pieces that follow. A larger one, or
// the last piece of a file, goes straight to the caller's buffer unless the
// slots already hold it.
constexpr std::uint32_t kSmallPiece = 16384;

bool SmallPiece(const OpenPakfile& pak, std::uint64_t count, bool ends_file) {
  return !ends_file && count < kSmallPiece && count < pak.stream.block_size;
}

// Whether the slots may serve this read, judged from what they looked like
// when the lock was last released.
bool SlotsMayServe(const OpenPakfile& pak, std::uint64_t position, std::uint64_t count, bool ends_file) {
  if (pak.may_write_copy.load(std::memory_order_relaxed)) return true;
  if (SmallPiece(pak, count, ends_file)) return true;
  const std::uint64_t slots = pak.published_slots.load(std::memory_order_relaxed);
  for (const std::uint64_t start : {slots & 0xFFFFFFFFu, slots >> 32}) {
    if (start <= position && position < start + pak.stream.block_size) return true;
  }
  return false;
}

// Whether the slots serve this read; under the lock.
bool SlotsServe(const OpenPakfile& pak, std::uint64_t position, std::uint64_t count, bool ends_file) {
  const PakStream& stream = pak.stream;
  if (stream.mode == StreamMode::kWritingCopy) return true;
  if (SmallPiece(pak, count, ends_file)) return true;
  return SlotsHold(stream, static_cast<std::uint32_t>(position));
}

// Reads `count` bytes at `position` of the pakfile straight into the
// destination and unmasks them there. Returns the bytes delivered; fewer
// when the read failed or the file ends first.
std::uint32_t ReadDirect(OpenPakfile& pak, std::uint64_t position, std::uint32_t count, std::uint8_t* destination) {
  const std::span<std::uint8_t> out(destination, count);
  const std::optional<std::size_t> got = ReadAtOnce(pak.stream.file, position, out);
  if (!got) return 0;
  MaskData(out.first(*got));
  return static_cast<std::uint32_t>(*got);
}

}  // namespace

void PublishSlots(OpenPakfile& pak) {
  const PakStream& stream = pak.stream;
  const std::uint64_t slots = std::uint64_t{stream.slots[1].position} << 32 | stream.slots[0].position;
  // Stored only when they change: in data order many reads share a block.
  if (pak.published_slots.load(std::memory_order_relaxed) != slots) {
    pak.published_slots.store(slots, std::memory_order_relaxed);
  }
  const bool writing = stream.mode == StreamMode::kWritingCopy;
  if (pak.may_write_copy.load(std::memory_order_relaxed) != writing) {
    pak.may_write_copy.store(writing, std::memory_order_relaxed);
  }
}

PakReadResult ReadFileAt(const PakFileHandle& handle, std::uint64_t offset, void* destination, std::uint32_t count) {
  OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(handle.pak_index)];
  const DirRecord& record = pak.records[static_cast<std::size_t>(handle.entry)];
  const std::uint64_t left = record.size > offset ? record.size - offset : 0;
  const std::uint64_t wanted = std::min<std::uint64_t>({count, left, 0x7FFFFFFFu});
  if (wanted == 0) return {};
  // Bytes at or past the read limit are not in the pakfile, whatever a
  // damaged record says.
  const std::uint64_t position = std::uint64_t{pak.data_base} + record.data_offset + offset;
  if (position >= pak.stream.limit) return {0, PakError::kNotAPakfile};
  const auto reachable = static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, pak.stream.limit - position));
  auto* out = static_cast<std::uint8_t*>(destination);

  std::optional<std::uint32_t> got;
  const bool ends_file = wanted == left;
  if (SlotsMayServe(pak, position, reachable, ends_file)) {
    std::unique_lock<PakLock> hold(pak.lock, std::try_to_lock);
    if (hold.owns_lock() && SlotsServe(pak, position, reachable, ends_file)) {
      got = ReadSpan(pak.stream, static_cast<std::uint32_t>(position), reachable, out);
      PublishSlots(pak);
    }
  }
  if (!got) got = ReadDirect(pak, position, reachable, out);

  if (*got == wanted) return {*got};
  if (*got == reachable) return {*got, PakError::kNotAPakfile};  // the record reaches past the pakfile's end
  // The file itself ends before the bytes, or a read failed.
  const std::optional<std::uint64_t> length = FileLength(pak.stream.file.file());
  return {*got, length && *length <= position + *got ? PakError::kNotAPakfile : PakError::kIo};
}

PakReadResult PakFileReadChecked(PakFileHandle* handle, void* destination, std::uint32_t count) {
  if (!PakFileValidate(handle)) return {0, PakError::kInvalidHandle};
  const PakReadResult result = ReadFileAt(*handle, handle->read_pos, destination, count);
  handle->read_pos += result.bytes;
  return result;
}

std::int32_t PakFileRead(PakFileHandle* handle, void* destination, std::uint32_t count) {
  const PakReadResult result = PakFileReadChecked(handle, destination, count);
  return result.error == PakError::kInvalidHandle ? -1 : static_cast<std::int32_t>(result.bytes);
}

PakReadResult PakFileReadAt(PakFileHandle* handle, std::uint64_t offset, void* destination, std::uint32_t count) {
  if (!PakFileValidate(handle)) return {0, PakError::kInvalidHandle};
  return ReadFileAt(*handle, offset, destination, count);
}

}  // namespace kestrum
