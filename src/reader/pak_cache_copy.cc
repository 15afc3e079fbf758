#include "reader/pak_cache_copy.h"

#include <array>
#include <new>
#include <optional>

#include "format/mask.h"
#include "reader/pak_reader.h"
#include "reader/pak_registry.h"

namespace kestrum {

namespace {

// Stamps the finished copy, makes it durable, closes it and renames it to
// the cache path. False when any step fails; the temporary file is then
// still there.
bool CommitCacheCopy(OpenPakfile& pak) {
  PakStream& stream = pak.stream;
  const File& copy = stream.cache_file.file();
  // The copy was sized like the pakfile's file, which may run on past the
  // size that its header gives; a copy is exactly that size.
  const std::optional<std::uint64_t> length = FileLength(copy);
  if (!length || (*length != stream.limit && !ReserveLength(copy, stream.limit))) return false;
  std::array<std::uint8_t, 4> stamp{};
  StoreU32(stamp.data(), pak.copy_stamp);
  MaskData(stamp);
  // Durable with its stamp before it takes the cache path's name: after a
  // power loss the name holds the old file or the whole new copy.
  if (!WriteFullyAt(copy, kStampOffset, stamp) || !SyncData(copy)) return false;
  stream.cache_file.Close();
  // The cache path may have come to name the pakfile itself since it was
  // opened; the pakfile is never replaced. (The file opened to tell is
  // closed again before the rename, which Windows needs.)
  if (IsSameFile(OpenRegularForReading(pak.cache_open_path), stream.file.file())) return false;
  if (!RenameReplacing(stream.copy_temp_path, pak.cache_open_path)) return false;
  // The copy is in place and whole whatever this says: a rename lost to a
  // power loss leaves the old file or none at the cache path, never a part.
  (void)SyncFolderOf(pak.cache_open_path);
  return true;
}

}  // namespace

bool BeginCacheCopy(PakStream& stream, const std::string& path) {
  std::string temp_path;
  AsyncFile copy = CreateAsyncTemporaryBeside(path, temp_path, kCopyChannels);
  if (!copy) return false;
  const std::optional<std::uint64_t> length = FileLength(stream.file.file());
  bool ready = length && ReserveLength(copy.file(), *length);
  try {
    if (ready) stream.copy_slot.buffer.assign(stream.block_size, 0);
  } catch (const std::bad_alloc&) {
    ready = false;
  }
  if (!ready) {
    copy.Close();
    (void)RemoveFile(temp_path);
    return false;
  }
  stream.copy_slot.state = SlotState::kEmpty;
  stream.copy_pos = 0;
  stream.cache_file = std::move(copy);
  stream.copy_temp_path = std::move(temp_path);
  stream.mode = StreamMode::kWritingCopy;
  return true;
}

bool CacheCopyIsWhole(const PakStream& stream) {
  const std::optional<std::uint64_t> length = FileLength(stream.file.file());
  return length && *length == stream.limit;
}

void FinishCacheCopy(std::int32_t position) {
  OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(position)];
  PakStream& stream = pak.stream;
  if (stream.mode != StreamMode::kWritingCopy) return;
  // The copy may run past the limit: blocks read while the header loaded
  // reach to the end of the file.
  if (stream.copy_pos < stream.limit) {
    // Reading the file's last byte writes every block from the copy's end
    // on through to it.
    pak.records.assign(1, DirRecord{.size = stream.limit});
    pak.data_base = 0;
    PakFileHandle whole_file{.pak_index = position, .pak_id = pak.id, .entry = 0, .read_pos = stream.limit - 1};
    std::uint8_t last = 0;
    (void)PakFileRead(&whole_file, &last, 1);
  }
  if (stream.mode != StreamMode::kWritingCopy) return;  // a read or write failed on the way
  if (stream.copy_pos < stream.limit) {
    // The pakfile ends before the size its header gives: the copy can
    // never be complete.
    StopCacheCopy(stream);
    return;
  }
  bool good = true;
  if (stream.copy_slot.state == SlotState::kPending) good = AwaitTransfer(stream.cache_file, 0).ok;
  stream.copy_slot.state = SlotState::kEmpty;                       // nothing outstanding any more
  if (good && CommitCacheCopy(pak)) stream.copy_temp_path.clear();  // it is the copy now
  StopCacheCopy(stream);                                            // removes the temporary file unless it was renamed
}

}  // namespace kestrum
