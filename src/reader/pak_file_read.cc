// Reads of files inside pakfiles take one of two roads.
//
// Through the read slots (io/slot_reader.h), under the pakfile's lock: for a
// small read whose first byte the slots already hold or are loading, that
// goes on where the last read of the pakfile ended (files read in data
// order, many to a block), or that leaves more of its file to read (a file
// read in small pieces); and always while a cache copy is being written,
// which the slots write strictly in order.
//
// Straight into the caller's buffer otherwise: one positional read of
// exactly the wanted bytes, unmasked in place, with no lock held. A file read
// whole out of order, or a large read, costs exactly its bytes, and threads
// reading different files of one pakfile do not wait for each other.
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

// Whether the slots serve this read; under the lock.
bool SlotsServe(const OpenPakfile& pak, std::uint64_t position, std::uint64_t count, bool ends_file) {
  const PakStream& stream = pak.stream;
  if (stream.mode == StreamMode::kWritingCopy) return true;
  if (!ReadsThroughSlots(pak, count)) return false;
  return !ends_file || SlotsHold(stream, static_cast<std::uint32_t>(position)) ||
         position == pak.last_read_end.load(std::memory_order_relaxed);
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
  {
    std::unique_lock<PakLock> hold(pak.lock, std::try_to_lock);
    if (hold.owns_lock() && SlotsServe(pak, position, reachable, wanted == left)) {
      got = ReadSpan(pak.stream, static_cast<std::uint32_t>(position), reachable, out);
    }
  }
  if (!got) got = ReadDirect(pak, position, reachable, out);
  pak.last_read_end.store(position + *got, std::memory_order_relaxed);

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
