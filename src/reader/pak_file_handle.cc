// Handles to files inside open pakfiles.
#include <algorithm>
#include <mutex>
#include <new>
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

std::int32_t PakFileRead(PakFileHandle* handle, void* destination, std::uint32_t count) {
  if (!PakFileValidate(handle)) return -1;
  OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(handle->pak_index)];
  const DirRecord& record = pak.records[static_cast<std::size_t>(handle->entry)];
  const std::uint32_t left = record.size > handle->read_pos ? record.size - handle->read_pos : 0;
  std::uint64_t wanted = std::min({count, left, 0x7FFFFFFFu});
  if (wanted == 0) return 0;
  // Bytes at or past the read limit are not in the pakfile, whatever a
  // damaged record says.
  const std::uint64_t position = std::uint64_t{pak.data_base} + record.data_offset + handle->read_pos;
  if (position >= pak.stream.limit) return 0;
  wanted = std::min<std::uint64_t>(wanted, pak.stream.limit - position);

  std::uint32_t got = 0;
  {
    const std::lock_guard<PakLock> hold(pak.lock);
    got = ReadSpan(pak.stream, static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(wanted),
                   static_cast<std::uint8_t*>(destination));
  }
  handle->read_pos += got;
  return static_cast<std::int32_t>(got);
}

void PakFileClose(PakFileHandle* handle) {
  // The handle is the caller's from PakFileOpen on; it is freed even when its
  // pakfile has been closed in the meantime.
  delete handle;
}

}  // namespace kestrum
