#include "support/pak_decoder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "format/crc32.h"
#include "format/mask.h"
#include "format/pak_path.h"
#include "format/scramble.h"
#include "support/temp_dir.h"

namespace kestrum::testing {
namespace {

// The NUL-terminated string at `offset` in the pool, or false if it runs
// past the end.
bool StringAt(const std::vector<std::uint8_t>& pool, std::size_t offset, std::string& out) {
  out.clear();
  for (std::size_t i = offset; i < pool.size(); ++i) {
    if (pool[i] == 0) return true;
    out.push_back(static_cast<char>(pool[i]));
  }
  return false;
}

std::string Reversed(std::string s) {
  std::reverse(s.begin(), s.end());
  return s;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

bool DecodePak(std::span<const std::uint8_t> image, const LocaleKey& key, DecodedPak& out, std::string& why) {
  if (image.size() < kFixedHeaderSize) return why = "shorter than the fixed part", false;
  std::vector<std::uint8_t> fixed(image.begin(), image.begin() + kFixedHeaderSize);
  MaskData(fixed);
  out.header = DecodeHeader(std::span<const std::uint8_t, kFixedHeaderSize>(fixed.data(), kFixedHeaderSize));
  const PakHeader& h = out.header;
  if (h.byte_order_mark != kByteOrderMark || h.layout_tag != kLayoutTag) return why = "bad tags", false;
  if (h.entry_count == 0 || h.entry_count > kMaxEntries) return why = "bad entry count", false;
  const std::uint64_t pool_start = kFixedHeaderSize + std::uint64_t{kDirRecordSize} * h.entry_count;
  if (h.header_size < pool_start || h.header_size > image.size()) return why = "bad header size", false;

  std::vector<std::uint8_t> region(image.begin(), image.begin() + h.header_size);
  MaskData(region);
  out.pool.assign(region.begin() + static_cast<std::ptrdiff_t>(pool_start), region.end());
  UnscrambleHeader(out.pool, key);
  // Checksum: stamp and checksum read as all ones, the pool plain.
  std::vector<std::uint8_t> covered(region.begin(), region.begin() + static_cast<std::ptrdiff_t>(pool_start));
  std::memset(covered.data() + 24, 0xFF, 4);
  std::memset(covered.data() + 32, 0xFF, 4);
  covered.insert(covered.end(), out.pool.begin(), out.pool.end());
  std::uint32_t crc = kCrcStart;
  Crc32Update(covered, crc);
  if (crc != h.checksum) return why = "checksum mismatch", false;

  out.entries.clear();
  out.entries.reserve(h.entry_count);
  std::string name, dir;
  for (std::uint32_t k = 0; k < h.entry_count; ++k) {
    DecodedEntry e;
    e.record = DecodeDirRecord(std::span<const std::uint8_t, kDirRecordSize>(
        region.data() + kFixedHeaderSize + std::size_t{kDirRecordSize} * k, kDirRecordSize));
    if (e.record.name_offset + 2 > out.pool.size() || !StringAt(out.pool, e.record.name_offset + 2, name)) {
      return why = "name offset outside the pool", false;
    }
    dir.clear();
    if (e.record.dir_offset != 0) {
      if (!StringAt(out.pool, e.record.dir_offset, dir)) return why = "dir offset outside the pool", false;
    }
    e.path.reserve(dir.size() + 1 + name.size());
    e.path.assign(dir.rbegin(), dir.rend());
    if (e.record.dir_offset != 0) e.path.push_back('\\');
    e.path.append(name.rbegin(), name.rend());
    const std::uint64_t start = std::uint64_t{h.header_size} + e.record.data_offset;
    if (start + e.record.size > image.size()) return why = "data outside the file", false;
    e.data.assign(image.begin() + static_cast<std::ptrdiff_t>(start),
                  image.begin() + static_cast<std::ptrdiff_t>(start + e.record.size));
    MaskData(std::span(reinterpret_cast<std::uint8_t*>(e.data.data()), e.data.size()));
    out.entries.push_back(std::move(e));
  }

  out.data_order.clear();
  std::uint32_t at = h.first_in_data_order;
  for (std::uint32_t step = 0; step < h.entry_count; ++step) {
    if (at >= h.entry_count) return why = "data-order chain leaves the directory", false;
    out.data_order.push_back(at);
    at = out.entries[at].record.next_in_data_order;
  }
  return true;
}

void ReencodeHeader(std::vector<std::uint8_t>& image, const PakHeader& header, const std::vector<DirRecord>& records,
                    const std::vector<std::uint8_t>& pool, const LocaleKey& key) {
  PakHeader h = header;  // as a reader sees it: signature masked once
  h.entry_count = static_cast<std::uint32_t>(records.size());
  h.header_size = static_cast<std::uint32_t>(kFixedHeaderSize + kDirRecordSize * records.size() + pool.size());
  h.stamp = kNoStamp;
  h.checksum = kCrcStart;
  std::vector<std::uint8_t> region(h.header_size);
  EncodeHeader(h, std::span<std::uint8_t, kFixedHeaderSize>(region.data(), kFixedHeaderSize));
  for (std::size_t k = 0; k < records.size(); ++k) {
    EncodeDirRecord(records[k], std::span<std::uint8_t, kDirRecordSize>(
                                    region.data() + kFixedHeaderSize + kDirRecordSize * k, kDirRecordSize));
  }
  const std::size_t pool_start = kFixedHeaderSize + kDirRecordSize * records.size();
  std::copy(pool.begin(), pool.end(), region.begin() + static_cast<std::ptrdiff_t>(pool_start));
  std::uint32_t crc = kCrcStart;
  Crc32Update(region, crc);
  h.checksum = crc;
  h.stamp = header.stamp;
  EncodeHeader(h, std::span<std::uint8_t, kFixedHeaderSize>(region.data(), kFixedHeaderSize));
  ScrambleHeader(std::span(region).subspan(pool_start), key);
  MaskData(region);
  // The data area keeps its place only when the header keeps its size.
  const std::vector<std::uint8_t> data(image.begin() + header.header_size, image.end());
  image.assign(region.begin(), region.end());
  image.insert(image.end(), data.begin(), data.end());
}

std::string CheckWriterRules(const DecodedPak& pak) {
  const PakHeader& h = pak.header;
  const auto& es = pak.entries;
  const std::size_t n = es.size();
  auto signature = MakeSignature();  // a reader sees it masked: it was masked twice when written
  MaskData(signature);
  if (h.signature != signature) return "signature";
  if (h.stamp != kNoStamp) return "stamp is not all ones";
  if (h.header_size != kFixedHeaderSize + kDirRecordSize * n + pak.pool.size()) return "header_size";

  // Hash order, copies adjacent and sharing their offsets, distinct paths
  // never sharing a name record.
  std::map<std::uint32_t, std::string_view> name_owner;
  std::vector<std::uint16_t> hashes(n);
  for (std::size_t k = 0; k < n; ++k) hashes[k] = NameHash(es[k].path);
  // Hash, then the path compared from its last byte as unsigned bytes, a
  // proper suffix first: <0, 0 or >0.
  const auto compare_keys = [&](std::size_t x, std::size_t y) {
    if (hashes[x] != hashes[y]) return hashes[x] < hashes[y] ? -1 : 1;
    const std::string& a = es[x].path;
    const std::string& b = es[y].path;
    const auto less = [](char p, char q) { return static_cast<unsigned char>(p) < static_cast<unsigned char>(q); };
    if (std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend(), less)) return -1;
    return std::lexicographical_compare(b.rbegin(), b.rend(), a.rbegin(), a.rend(), less) ? 1 : 0;
  };
  for (std::size_t k = 0; k < n; ++k) {
    if (hashes[k] != (pak.pool[es[k].record.name_offset] << 8 | pak.pool[es[k].record.name_offset + 1])) {
      return "name record hash of record " + std::to_string(k);
    }
    auto [it, fresh] = name_owner.emplace(es[k].record.name_offset, es[k].path);
    if (!fresh && it->second != es[k].path) return "two paths share a name record";
    if (k == 0) continue;
    const int order = compare_keys(k - 1, k);
    if (order > 0) return "hash order broken at record " + std::to_string(k);
    if (order == 0 && (es[k].record.name_offset != es[k - 1].record.name_offset ||
                       es[k].record.dir_offset != es[k - 1].record.dir_offset)) {
      return "copies do not share offsets";
    }
    if (order != 0 && es[k].record.name_offset <= es[k - 1].record.name_offset) return "name records out of order";
  }
  if (es[0].record.name_offset != 0) return "pool does not start with record 0's name record";

  // Data order: contiguous from 0, every record once.
  std::vector<bool> seen(n);
  for (const std::uint32_t k : pak.data_order) {
    if (k >= n || seen[k]) return "data-order chain repeats a record";
    seen[k] = true;
  }
  std::uint64_t expected = 0;
  for (std::uint32_t k : pak.data_order) {
    if (es[k].record.data_offset != expected) return "data offsets not contiguous";
    expected += es[k].record.size;
  }
  if (es[pak.data_order.back()].record.next_in_data_order != 0) return "last link is not 0";
  if (h.file_size != PaddedFileSize(h.header_size, static_cast<std::uint32_t>(expected))) return "file_size";

  // Directories: one dir_offset per directory, 0 exactly without a '\', and
  // the stored strings never repeat or contain one another as a prefix.
  std::map<std::string, std::uint32_t> dir_offsets;
  for (const DecodedEntry& e : es) {
    const bool has_dir = e.path.find('\\') != std::string::npos;
    if (has_dir != (e.record.dir_offset != 0)) return "dir_offset 0 does not match a path without '\\'";
    if (!has_dir) continue;
    auto [it, fresh] = dir_offsets.emplace(DirectoryOf(e.path), e.record.dir_offset);
    if (!fresh && it->second != e.record.dir_offset) return "one directory with two dir_offsets";
  }
  // Everything in the pool that is not a name record is a directory string.
  std::vector<std::string> stored;
  std::size_t pos = 0;
  for (const auto& [offset, path] : name_owner) {
    if (offset < pos) return "name records overlap";
    if (offset > pos) {
      std::string s;
      if (!StringAt(pak.pool, pos, s) || pos + s.size() + 1 != offset) return "stray bytes in the pool";
      stored.push_back(Reversed(s));
    }
    const std::size_t cut = path.rfind('\\');
    pos = offset + 2 + (cut == std::string::npos ? path.size() : path.size() - cut - 1) + 1;
  }
  if (pos < pak.pool.size()) {
    std::string s;
    if (!StringAt(pak.pool, pos, s) || pos + s.size() + 1 != pak.pool.size()) return "stray bytes at the pool's end";
    stored.push_back(Reversed(s));
  }
  std::sort(stored.begin(), stored.end());
  for (std::size_t i = 1; i < stored.size(); ++i) {
    if (stored[i].compare(0, stored[i - 1].size(), stored[i - 1]) == 0) {
      return "directory string stored twice or inside a longer one: " + stored[i - 1];
    }
  }
  return "";
}

bool DecodePakFile(const std::string& path, const LocaleKey& key, DecodedPak& out, std::string& why) {
  const std::string bytes = ReadFileBytes(path);
  return DecodePak({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, key, out, why);
}

}  // namespace kestrum::testing
