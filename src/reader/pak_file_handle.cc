// Handles to files inside open pakfiles.
#include <new>

#include "format/prefetch.h"
#include "reader/entry_path.h"
#include "reader/normalized_path.h"
#include "reader/pak_file_read.h"
#include "reader/pak_find_entry.h"
#include "reader/pak_reader.h"
#include "reader/pak_registry.h"

namespace kestrum {
namespace {

// Files opened in data order are read through the slots, which stream the
// data area block by block: the read of the block that holds the file's
// first byte, and the read-ahead behind it, are started now, while the
// caller is still busy elsewhere, unless another thread is inside the
// pakfile (opening never waits for someone else's read). A file opened out
// of order is read straight into the caller's buffer when it is read whole,
// so a block read for it now would only cost time.
void PrefetchIfInDataOrder(OpenPakfile& pak, const DirRecord& record, bool in_data_order) {
  const std::uint64_t first = std::uint64_t{pak.data_base} + record.data_offset;
  if (!in_data_order || record.size == 0 || first >= pak.stream.limit) return;
  if (!pak.lock.try_lock()) return;
  PrepareBlocks(pak.stream, static_cast<std::uint32_t>(first), first);
  PublishSlots(pak);
  pak.lock.unlock();
}

}  // namespace

PakFileHandle* PakFileOpen(std::string_view path) {
  const NormalizedPath normalized(path);
  PakFileHandle found;
  const bool in_data_order = PakFindEntry(normalized.view(), found, true);
  if (found.pak_index < 0) return nullptr;
  auto* handle = new (std::nothrow) PakFileHandle(found);
  if (handle == nullptr) return nullptr;

  OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(found.pak_index)];
  const DirRecord& record = pak.records[static_cast<std::size_t>(found.entry)];
  // Reading in data order, the next lookup starts at the file that follows.
  // (Stored only when it changes: every thread's opens write here.)
  if (pak.next_hint.load(std::memory_order_relaxed) != record.next_in_data_order) {
    pak.next_hint.store(record.next_in_data_order, std::memory_order_relaxed);
  }
  handle->read_pos = 0;
  PrefetchIfInDataOrder(pak, record, in_data_order);
  // Opens in data order come one after the other, through a directory in
  // hash order: the next lookup's memory is asked for now.
  if (in_data_order) {
    PrefetchFollowing(pak.names, pak.records, static_cast<std::uint32_t>(found.entry));
    if (record.next_in_data_order < pak.name_hashes.size()) {
      PrefetchForRead(pak.name_hashes.data() + record.next_in_data_order);
    }
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
