#include "reader/pak_cache_copy.h"

#include <array>
#include <new>
#include <optional>

#include "format/mask.h"
#include "reader/pak_reader.h"
#include "reader/pak_registry.h"

namespace kestrum {

bool BeginCacheCopy(PakStream& stream, const std::string& path) {
  AsyncFile copy = CreateAsyncForWriting(path, kCopyChannels);
  if (!copy) return false;
  const std::optional<std::uint64_t> length = FileLength(stream.file.file());
  if (!length || !ReserveLength(copy.file(), *length)) return false;
  try {
    stream.copy_slot.buffer.assign(stream.block_size, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  stream.copy_slot.state = SlotState::kEmpty;
  stream.copy_pos = 0;
  stream.cache_file = std::move(copy);
  stream.mode = StreamMode::kWritingCopy;
  return true;
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
  if (good) {
    std::array<std::uint8_t, 4> stamp{};
    StoreU32(stamp.data(), pak.copy_stamp);
    MaskData(stamp);
    (void)WriteFullyAt(stream.cache_file.file(), kStampOffset, stamp);
  }
  stream.copy_slot.state = SlotState::kEmpty;  // nothing outstanding any more
  StopCacheCopy(stream);
}

}  // namespace kestrum
