#include "reader/pak_load_header.h"

#include <array>
#include <new>
#include <span>
#include <vector>

#include "format/crc32.h"
#include "format/locale_key.h"
#include "format/scramble.h"
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

bool ReadExactly(PakFileHandle& handle, std::span<std::uint8_t> out) {
  return PakFileRead(&handle, out.data(), static_cast<std::uint32_t>(out.size())) ==
         static_cast<std::int32_t>(out.size());
}

std::uint32_t HeaderChecksum(std::span<const std::uint8_t> fixed, std::span<const std::uint8_t> directory,
                             std::span<const std::uint8_t> pool) {
  std::uint32_t crc = kCrcStart;
  Crc32Update(fixed, crc);
  Crc32Update(directory, crc);
  Crc32Update(pool, crc);
  return crc;
}

// Everything after the fixed part: false on any failure.
bool LoadDirectory(PakFileHandle& handle, OpenPakfile& pak, std::array<std::uint8_t, kFixedHeaderSize>& fixed,
                   const PakHeader& header) {
  const std::uint32_t directory_bytes = kDirRecordSize * header.entry_count;
  const std::uint32_t pool_bytes = header.header_size - kFixedHeaderSize - directory_bytes;
  std::vector<std::uint8_t> directory(directory_bytes);
  std::vector<std::uint8_t> pool(pool_bytes);
  if (!ReadExactly(handle, directory) || !ReadExactly(handle, pool)) return false;

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
    if (HeaderChecksum(fixed, directory, pool) != header.checksum) return false;
  }

  std::vector<DirRecord> records(header.entry_count);
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i] = DecodeDirRecord(std::span(directory).subspan(i * kDirRecordSize).first<kDirRecordSize>());
  }
  pak.records = std::move(records);
  pak.names = std::move(pool);
  pak.first_in_data_order = header.first_in_data_order;
  pak.next_hint.store(header.first_in_data_order, std::memory_order_relaxed);
  pak.data_base = header.header_size;
  pak.stream.limit = header.file_size;
  return true;
}

}  // namespace

bool PakLoadHeader(PakFileHandle& handle, std::uint32_t expected_stamp) {
  OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(handle.pak_index)];
  std::array<std::uint8_t, kFixedHeaderSize> fixed{};
  bool loaded = false;
  if (ReadExactly(handle, fixed)) {
    const PakHeader header = DecodeHeader(fixed);
    const bool marks_match = header.layout_tag == kLayoutTag && header.byte_order_mark == kByteOrderMark;
    const bool stamp_matches = expected_stamp == kNoStamp || header.stamp == expected_stamp;
    if (marks_match && stamp_matches && SizesAreSound(header)) {
      try {
        loaded = LoadDirectory(handle, pak, fixed, header);
      } catch (const std::bad_alloc&) {
        loaded = false;
      }
    }
  }
  if (!loaded) CloseStreamFile(pak.stream);
  return loaded;
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
