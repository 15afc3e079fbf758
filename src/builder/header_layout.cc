#include "builder/header_layout.h"

#include <utility>

#include "builder/name_pool.h"
#include "builder/orderings.h"
#include "format/crc32.h"
#include "format/mask.h"
#include "format/scramble.h"

namespace kestrum {

bool LayOutHeader(EntryTable& table, std::span<const std::uint32_t> accepted, HeaderLayout& layout,
                  std::FILE* progress) {
  const std::size_t n = accepted.size();
  layout.hash_order.assign(accepted.begin(), accepted.end());
  std::vector<std::uint32_t> split_order(accepted.begin(), accepted.end());
  SortSplitOrder(table, split_order);
  SortHashOrder(table, layout.hash_order);

  // The pool grows in the buffer that the caller left in the layout, so a
  // caller that builds many headers (or reserves room up front) keeps it.
  NamePoolBuild names;
  names.pool = std::move(layout.pool);
  names.pool.clear();
  if (!BuildNamePool(table, layout.hash_order, split_order, names, progress)) return false;
  layout.pool = std::move(names.pool);
  layout.directory = std::move(names.directory);

  // Where each entry stands in hash order, to link the data-order chain.
  std::vector<std::uint32_t> hash_position(table.size(), 0);
  for (std::uint32_t k = 0; k < n; ++k) hash_position[layout.hash_order[k]] = k;
  std::vector<std::uint16_t> next(n, 0);
  for (std::size_t d = 0; d + 1 < n; ++d) {
    next[hash_position[accepted[d]]] = static_cast<std::uint16_t>(hash_position[accepted[d + 1]]);
  }
  layout.data_size = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const PackEntry& e = table[layout.hash_order[k]];
    DirRecord& record = layout.directory[k];
    record.size = e.size;
    record.data_offset = e.data_offset;
    record.next_in_data_order = next[k];
    layout.data_size += e.size;
  }

  layout.header_size = kFixedHeaderSize + kDirRecordSize * static_cast<std::uint64_t>(n) + layout.pool.size();
  PakHeader& h = layout.header;
  h.signature = MakeSignature();
  h.byte_order_mark = kByteOrderMark;
  h.stamp = kNoStamp;
  h.layout_tag = kLayoutTag;
  h.checksum = kCrcStart;
  h.entry_count = static_cast<std::uint32_t>(n);
  h.first_in_data_order = n > 0 ? hash_position[accepted[0]] : 0;
  h.header_size = static_cast<std::uint32_t>(layout.header_size);
  h.file_size = PaddedFileSize(h.header_size, static_cast<std::uint32_t>(layout.data_size));
  MaskData(h.signature);
  return true;
}

std::vector<std::uint8_t> EncodeHeaderRegion(HeaderLayout& layout, const LocaleKey& key) {
  const std::size_t n = layout.directory.size();
  const std::size_t pool_start = kFixedHeaderSize + kDirRecordSize * n;
  std::vector<std::uint8_t> image(pool_start + layout.pool.size());

  for (std::size_t k = 0; k < n; ++k) {
    EncodeDirRecord(layout.directory[k], std::span<std::uint8_t, kDirRecordSize>(
                                             image.data() + kFixedHeaderSize + kDirRecordSize * k, kDirRecordSize));
  }
  std::copy(layout.pool.begin(), layout.pool.end(), image.begin() + static_cast<std::ptrdiff_t>(pool_start));

  // The checksum covers the fixed part (stamp and checksum all ones, the
  // signature already masked), the directory and the plain pool.
  layout.header.stamp = kNoStamp;
  layout.header.checksum = kCrcStart;
  auto fixed = std::span<std::uint8_t, kFixedHeaderSize>(image.data(), kFixedHeaderSize);
  EncodeHeader(layout.header, fixed);
  std::uint32_t crc = kCrcStart;
  Crc32Update(image, crc);
  layout.header.checksum = crc;
  EncodeHeader(layout.header, fixed);

  ScrambleHeader(std::span(image).subspan(pool_start), key);
  MaskData(image);
  return image;
}

}  // namespace kestrum
