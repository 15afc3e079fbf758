#include "reader/pak_load_header.h"

#include <array>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "format/crc32.h"
#include "format/locale_key.h"
#include "format/locale_search.h"
#include "format/scramble.h"
#include "reader/pak_find_entry.h"
#include "reader/pak_registry.h"

namespace kestrum {
namespace {

constexpr std::uint32_t kChecksumOffset = 32;

// What a header must satisfy before anything is allocated from its sizes.
bool SizesAreSound(const PakHeader& header) {
  if (header.entry_count == 0 || header.entry_count > kMaxEntries) return false;
  const std::uint32_t directory_end = kFixedHeaderSize + kDirRecordSize * header.entry_count;
  return header.header_size >= directory_end && header.header_size <= kMaxHeaderSize &&
         header.file_size >= header.header_size;
}

// Reads the span whole. A short read is a file cut short (kNotAPakfile) when
// the file really ends before `end`, the position just past the span, and a
// failed read (kIo) otherwise.
PakError ReadExactly(PakFileHandle& handle, const OpenPakfile& pak, std::span<std::uint8_t> out) {
  const std::uint64_t end = std::uint64_t{handle.read_pos} + out.size();
  if (PakFileRead(&handle, out.data(), static_cast<std::uint32_t>(out.size())) ==
      static_cast<std::int32_t>(out.size())) {
    return PakError::kNone;
  }
  const std::optional<std::uint64_t> length = FileLength(pak.stream.file.file());
  return length && *length < end ? PakError::kNotAPakfile : PakError::kIo;
}

std::uint32_t HeaderChecksum(std::span<const std::uint8_t> fixed, std::span<const std::uint8_t> directory,
                             std::span<const std::uint8_t> pool) {
  std::uint32_t crc = kCrcStart;
  Crc32Update(fixed, crc);
  Crc32Update(directory, crc);
  Crc32Update(pool, crc);
  return crc;
}

// A checksum that fails with the locale key and without: either the pakfile
// was built under another key, which the checksum then names exactly, or
// the header is damaged. `pool` is as the keyless attempt left it.
HeaderVerdict Misfit(std::span<const std::uint8_t> fixed, std::span<const std::uint8_t> directory,
                     std::span<std::uint8_t> pool, const PakHeader& header) {
  ScrambleHeader(pool, LocaleKey{});  // the bytes as stored
  std::uint32_t before_pool = kCrcStart;
  Crc32Update(fixed, before_pool);
  Crc32Update(directory, before_pool);
  const std::optional<std::array<std::uint8_t, 2>> key = FindScrambleKey(before_pool, pool, header.checksum);
  if (!key) return {PakError::kNotAPakfile};
  return {PakError::kWrongLocale, LocaleKey{.enabled = true, .bytes = *key}};
}

// Everything after the fixed part.
HeaderVerdict LoadDirectory(PakFileHandle& handle, OpenPakfile& pak, std::array<std::uint8_t, kFixedHeaderSize>& fixed,
                            const PakHeader& header) {
  const std::uint32_t directory_bytes = kDirRecordSize * header.entry_count;
  const std::uint32_t pool_bytes = header.header_size - kFixedHeaderSize - directory_bytes;
  std::vector<std::uint8_t> directory(directory_bytes);
  std::vector<std::uint8_t> pool(pool_bytes);
  PakError read = ReadExactly(handle, pak, directory);
  if (read == PakError::kNone) read = ReadExactly(handle, pak, pool);
  if (read != PakError::kNone) return {read};

  // The checksum covers the fixed part with stamp and checksum all ones, so a
  // stamped cache copy checks like its source.
  StoreU32(fixed.data() + kStampOffset, kNoStamp);
  StoreU32(fixed.data() + kChecksumOffset, kNoStamp);
  UnscrambleHeader(pool);
  if (HeaderChecksum(fixed, directory, pool) != header.checksum) {
    // A pakfile built without a locale opens under any locale.
    // Scrambling again restores the bytes as stored, without keeping a copy.
    ScrambleHeader(pool);
    LocaleKey keyless = CurrentLocaleKey();
    keyless.enabled = false;
    UnscrambleHeader(pool, keyless);
    if (HeaderChecksum(fixed, directory, pool) != header.checksum) return Misfit(fixed, directory, pool, header);
  }

  std::vector<DirRecord> records(header.entry_count);
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i] = DecodeDirRecord(std::span(directory).subspan(i * kDirRecordSize).first<kDirRecordSize>());
  }
  pak.records = std::move(records);
  pak.names = std::move(pool);
  IndexNameHashes(pak);
  pak.first_in_data_order = header.first_in_data_order;
  pak.next_hint.store(header.first_in_data_order, std::memory_order_relaxed);
  pak.data_base = header.header_size;
  pak.stream.limit = header.file_size;
  return {};
}

}  // namespace

HeaderVerdict PakLoadHeader(PakFileHandle& handle, std::uint32_t expected_stamp) {
  OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(handle.pak_index)];
  std::array<std::uint8_t, kFixedHeaderSize> fixed{};
  HeaderVerdict verdict{ReadExactly(handle, pak, fixed)};
  if (verdict.error == PakError::kNone) {
    const PakHeader header = DecodeHeader(fixed);
    const bool marks_match = header.layout_tag == kLayoutTag && header.byte_order_mark == kByteOrderMark;
    const bool stamp_matches = expected_stamp == kNoStamp || header.stamp == expected_stamp;
    if (marks_match && stamp_matches && SizesAreSound(header)) {
      try {
        verdict = LoadDirectory(handle, pak, fixed, header);
      } catch (const std::bad_alloc&) {
        verdict = {PakError::kNoMemory};
      }
    } else {
      verdict = {PakError::kNotAPakfile};
    }
  }
  if (verdict.error != PakError::kNone) CloseStreamFile(pak.stream);
  return verdict;
}

void PakGetDirectory(std::int32_t pak_id, PakHeader& header, std::vector<std::uint8_t>& names,
                     std::vector<DirRecord>& records) {
  const PakRegistryTable& registry = PakRegistry();
  for (std::size_t position = registry.size(); position-- > 0;) {
    const OpenPakfile& pak = *registry[position];
    if (pak.id != pak_id) continue;
    names = pak.names;
    records = pak.records;
    header.entry_count = static_cast<std::uint32_t>(pak.records.size());
    header.first_in_data_order = pak.first_in_data_order;
    header.header_size = pak.data_base;
    header.file_size = pak.stream.limit;
    return;
  }
}

}  // namespace kestrum
