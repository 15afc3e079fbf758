#include "pak_sources.h"

#include <kestrum/pak_reader.h>

#include <algorithm>
#include <vector>

namespace kestrum {

OpenedPak OpenPakForMount(const std::string& path, std::uint32_t block_kib, std::string& message) {
  const PakOpenResult result = PakOpenWithReason(path, block_kib, {}, kNoStamp, false);
  if (result.id < 0) {
    // The tool's line, then the reason, indented.
    message = "Bad Pakfile '" + path + "'\n  " + PakErrorMessage(result.error);
    const auto& key = result.built_under.bytes;
    const auto letter = [](std::uint8_t b) { return b >= 'a' && b <= 'z'; };
    if (result.error == PakError::kWrongLocale && letter(key[0]) && letter(key[1])) {
      message += " ('";
      message += static_cast<char>(key[0]);
      message += static_cast<char>(key[1]);
      message += "')";
    }
    message += "\n";
    return {};
  }
  return {result.id, 0};
}

PakError ListPakForMount(std::int32_t pak_id, PakContents& contents) {
  PakHeader header;
  std::vector<std::uint8_t> names;
  std::vector<DirRecord> records;
  PakGetDirectory(pak_id, header, names, records);
  // The data-order chain, walked as the runtime's enumeration walks it: from
  // first_in_data_order along next_in_data_order, at most entry_count steps,
  // stopping where a link leaves the directory.
  std::vector<std::uint32_t> chain;
  const std::size_t count = std::min<std::size_t>(header.entry_count, records.size());
  std::uint32_t at = header.first_in_data_order;
  for (std::size_t step = 0; step < count && at < count; ++step) {
    chain.push_back(at);
    at = records[at].next_in_data_order;
  }
  std::uint32_t entries = 0;
  if (const PakError error = PakEntryCount(pak_id, entries); error != PakError::kNone) return error;
  // The enumeration leaves out entries whose path cannot be rebuilt; then
  // its entries no longer line up with the chain.
  if (entries != chain.size()) return PakError::kNotAPakfile;
  contents.files.resize(entries);
  for (std::uint32_t i = 0; i < entries; ++i) {
    StoredFile& file = contents.files[i];
    if (const PakError error = PakEntryAt(pak_id, i, file.path, file.size); error != PakError::kNone) return error;
    file.record = chain[i];
    if (records[file.record].size != file.size) return PakError::kNotAPakfile;
  }
  return PakError::kNone;
}

}  // namespace kestrum
