// Opening and closing pakfiles.
#include <new>
#include <optional>
#include <string>

#include "format/pak_path.h"
#include "io/open_failure.h"
#include "reader/pak_cache_copy.h"
#include "reader/pak_file_read.h"
#include "reader/pak_load_header.h"
#include "reader/pak_reader.h"
#include "reader/pak_registry.h"

namespace kestrum {
namespace {

constexpr std::uint32_t kMinBlockKib = 2;
constexpr std::uint64_t kMaxBlockSize = std::uint64_t{1} << 30;

// The pakfile as it stands while a header loads: one record spanning the
// whole file, data base 0, read limit at the end of any pakfile.
void EnterLoadingState(OpenPakfile& pak) {
  pak.records.assign(1, DirRecord{.size = kWholeFileLimit});
  pak.name_hashes.clear();
  pak.data_base = 0;
  pak.stream.limit = kWholeFileLimit;
  ResetSlots(pak.stream);
}

// Loads the header of the file just opened into the pakfile at the last
// registry position; on failure the file is closed again.
HeaderVerdict LoadHeader(OpenPakfile& pak, std::uint32_t expected_stamp) {
  ResetSlots(pak.stream);
  PakFileHandle header_reader{
      .pak_index = static_cast<std::int32_t>(PakRegistry().size() - 1), .pak_id = pak.id, .entry = 0, .read_pos = 0};
  return PakLoadHeader(header_reader, expected_stamp);
}

// Why the pakfile at path could not be opened.
PakError OpenFailureReason(const std::string& path) {
  switch (DescribeOpenFailure(path)) {
    case OpenFailure::kMissing:
      return PakError::kNotFound;
    case OpenFailure::kNotRegular:
      return PakError::kNotAPakfile;
    case OpenFailure::kUnreadable:
      break;
  }
  return PakError::kIo;
}

// Everything up to and including the header load. The pakfile is already
// registered, at the last position.
HeaderVerdict OpenAndLoad(OpenPakfile& pak, std::string_view path, std::uint32_t stamp, bool make_copy) {
  // Paths are opened as the caller gave them: the file system does not know
  // the normalised form.
  const std::string open_path(path);
  File source = OpenFileForAsyncReading(open_path);
  bool use_cache = !pak.cache_path.empty();
  if (use_cache) {
    File copy = OpenFileForAsyncReading(pak.cache_open_path);
    // A cache path that reaches the pakfile itself, by whatever name or
    // link, is no copy: the pakfile is read and never written.
    if (copy && source && IsSameFile(copy, source)) {
      use_cache = false;
    } else if (copy) {
      // A whole copy whose header passes every check, with the expected
      // stamp, is read instead of the pakfile; any other is taken as absent.
      pak.stream.file = MakeAsyncFile(std::move(copy), kReadChannels);
      if (LoadHeader(pak, stamp).error == PakError::kNone && CacheCopyIsWhole(pak.stream)) {
        pak.stream.mode = StreamMode::kFromCopy;
        return {};
      }
      CloseStreamFile(pak.stream);
      EnterLoadingState(pak);
    }
  }
  pak.stream.file = MakeAsyncFile(std::move(source), kReadChannels);
  if (!pak.stream.file) return {OpenFailureReason(open_path)};
  if (use_cache && make_copy) {
    pak.copy_stamp = stamp;
    (void)BeginCacheCopy(pak.stream, pak.cache_open_path);  // without a copy when it cannot be made
    PublishSlots(pak);                                      // reads take the slots from now on, which write the copy
  }
  return LoadHeader(pak, kNoStamp);
}

}  // namespace

std::int32_t PakOpen(std::string_view path, std::uint32_t block_kib, std::string_view cache_path, std::uint32_t stamp,
                     bool make_copy) {
  return PakOpenWithReason(path, block_kib, cache_path, stamp, make_copy).id;
}

PakOpenResult PakOpenWithReason(std::string_view path, std::uint32_t block_kib, std::string_view cache_path,
                                std::uint32_t stamp, bool make_copy) {
  // Every call takes an id, also one that fails.
  const std::int32_t id = TakeNextPakId();
  const std::uint64_t block_size = BlockSizeFor(block_kib);
  if (block_kib < kMinBlockKib || block_size > kMaxBlockSize) return {.error = PakError::kInvalidArgument};

  PakRegistryTable& registry = PakRegistry();
  HeaderVerdict verdict;
  try {
    auto pak = std::make_unique<OpenPakfile>();
    pak->id = id;
    pak->path = path;
    NormalizePakPath(pak->path);
    pak->cache_open_path = cache_path;
    pak->cache_path = cache_path;
    NormalizePakPath(pak->cache_path);
    AllocateSlots(pak->stream, static_cast<std::uint32_t>(block_size));
    EnterLoadingState(*pak);
    registry.push_back(std::move(pak));
    verdict = OpenAndLoad(*registry.back(), path, stamp, make_copy);
  } catch (const std::bad_alloc&) {
    verdict = {PakError::kNoMemory};
  }
  if (verdict.error == PakError::kNone) return {.id = id};
  if (!registry.empty() && registry.back()->id == id) {
    if (registry.back()->stream.mode == StreamMode::kWritingCopy) StopCacheCopy(registry.back()->stream);
    PakClose(static_cast<std::int32_t>(registry.size() - 1));
  }
  return {.error = verdict.error, .built_under = verdict.built_under};
}

void PakClose(std::int32_t position) {
  PakRegistryTable& registry = PakRegistry();
  if (position < 0 || static_cast<std::size_t>(position) >= registry.size()) return;
  FinishCacheCopy(position);
  // Destroying the record cancels and collects the outstanding transfers
  // before the files close and the buffers are freed.
  registry.erase(registry.begin() + position);
}

bool PakCloseById(std::int32_t pak_id) {
  const std::optional<std::size_t> position = PakPositionOf(pak_id);
  if (!position) return false;
  PakClose(static_cast<std::int32_t>(*position));
  return true;
}

void PakCloseAll() {
  for (auto position = static_cast<std::int32_t>(PakRegistry().size()); position-- > 0;) PakClose(position);
}

}  // namespace kestrum
