// Handles to files inside open pakfiles.
#include <algorithm>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "format/pak_path.h"
#include "reader/pak_find_entry.h"
#include "reader/pak_reader.h"
#include "reader/pak_registry.h"

namespace kestrum {

PakFileHandle* PakFileOpen(std::string_view path) {
  std::string normalized(path);
  NormalizePakPath(normalized);
  PakFileHandle found;
  PakFindEntry(normalized, found, true);
  if (found.pak_index < 0) return nullptr;
  auto* handle = new (std::nothrow) PakFileHandle(found);
  if (handle == nullptr) return nullptr;

  OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(found.pak_index)];
  const DirRecord& record = pak.records[static_cast<std::size_t>(found.entry)];
  // Reading in data order, the next lookup starts at the file that follows.
  pak.next_hint.store(record.next_in_data_order, std::memory_order_relaxed);
  handle->read_pos = 0;

  // Start reading the file's first block now, unless another thread is
  // inside the pakfile: opening never waits for someone else's read.
  const std::uint64_t first = std::uint64_t{pak.data_base} + record.data_offset;
  if (first < pak.stream.limit && pak.lock.try_lock()) {
    PrepareBlocks(pak.stream, static_cast<std::uint32_t>(first), first);
    pak.lock.unlock();
  }
  return handle;
}

bool PakFileValidate(PakFileHandle* handle) {
  if (handle == nullptr || handle->pak_index < 0) return false;
  const PakRegistryTable& registry = PakRegistry();
  const auto at = static_cast<std::size_t>(handle->pak_index);
  if (at >= registry.size() || registry[at]->id != handle->pak_id) {
    // Positions move when earlier pakfiles close; the id does not.
    std::size_t position = 0;
    while (position < registry.size() && registry[position]->id != handle->pak_id) ++position;
    handle->pak_index = static_cast<std::int32_t>(position);
    if (position == registry.size()) return false;
  }
  const OpenPakfile& pak = *registry[static_cast<std::size_t>(handle->pak_index)];
  return handle->entry >= 0 && handle->entry < EntryCount(pak);
}

std::int32_t PakFileSize(PakFileHandle* handle) {
  if (!PakFileValidate(handle)) return -1;
  const OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(handle->pak_index)];
  const std::uint32_t size = pak.records[static_cast<std::size_t>(handle->entry)].size;
  // No file of a sound pakfile reaches 2 GiB.
  return size > 0x7FFFFFFFu ? -1 : static_cast<std::int32_t>(size);
}

namespace {

// Reads from `offset` in the file of a handle that has just validated.
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
  const std::uint64_t reachable = std::min<std::uint64_t>(wanted, pak.stream.limit - position);

  const std::lock_guard<PakLock> hold(pak.lock);
  const std::uint32_t got = ReadSpan(pak.stream, static_cast<std::uint32_t>(position),
                                     static_cast<std::uint32_t>(reachable), static_cast<std::uint8_t*>(destination));
  if (got == wanted) return {got};
  if (got == reachable) return {got, PakError::kNotAPakfile};  // the record reaches past the pakfile's end
  // The file itself ends before the bytes, or a block could not be read.
  const std::optional<std::uint64_t> length = FileLength(pak.stream.file.file());
  return {got, length && *length <= position + got ? PakError::kNotAPakfile : PakError::kIo};
}

}  // namespace

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

std::int64_t PakFileSeek(PakFileHandle* handle, std::int64_t offset, PakSeekFrom from) {
  if (!PakFileValidate(handle)) return -1;
  std::int64_t base = 0;
  switch (from) {
    case PakSeekFrom::kStart:
      break;
    case PakSeekFrom::kCurrent:
      base = handle->read_pos;
      break;
    case PakSeekFrom::kEnd:
      base = PakRegistry()[static_cast<std::size_t>(handle->pak_index)]
                 ->records[static_cast<std::size_t>(handle->entry)]
                 .size;
      break;
    default:
      return -1;
  }
  constexpr std::int64_t kLast = 0xFFFFFFFF;
  // base lies in 0..kLast, so neither test overflows.
  if (offset < -base || offset > kLast - base) return -1;
  handle->read_pos = static_cast<std::uint32_t>(base + offset);
  return handle->read_pos;
}

void PakFileClose(PakFileHandle* handle) {
  // The handle is the caller's from PakFileOpen on; it is freed even when its
  // pakfile has been closed in the meantime.
  delete handle;
}

}  // namespace kestrum
