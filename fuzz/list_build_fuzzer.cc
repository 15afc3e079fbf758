// Arbitrary list file bytes through the list reader and the whole header
// build. The first byte picks the locale key; each file's size comes from
// its name hash instead of the disk. The pakfile image must decode with the
// independent decoder, keep every writer rule, and name the listed files in
// list order.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builder/header_layout.h"
#include "builder/list_file.h"
#include "format/pak_path.h"
#include "support/pak_decoder.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrum;
  if (size == 0) return 0;
  const LocaleKey key = (data[0] & 1) ? LocaleKeyFromText("Xq") : LocaleKey{};
  // The buffers of one run are kept for the next: allocating them afresh
  // each time costs more than the work on a small list.
  static std::string text, source;
  static EntryTable table;
  static HeaderLayout layout;
  text.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  text.push_back('\0');
  source = text;
  table.clear();
  ParseListBuffer(text, source, table, kMaxEntries + 1);

  std::vector<std::uint32_t> accepted;
  std::uint32_t total = 0;
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    PackEntry& e = table[i];
    const std::string_view name(e.name, e.name_length);
    Require(std::strlen(e.name) == e.name_length);
    Require(e.hash == NameHash(name));
    Require(e.split == (name.rfind('\\') == std::string_view::npos ? -1 : static_cast<std::int32_t>(name.rfind('\\'))));
    Require(name.find('/') == std::string_view::npos);
    if (e.name_length == 0) continue;
    e.size = e.hash % 7;
    e.data_offset = total;
    total += e.size;
    accepted.push_back(i);
  }
  if (accepted.empty() || table.size() > kMaxEntries) return 0;

  Require(LayOutHeader(table, accepted, layout, nullptr));
  if (layout.header_size > kMaxHeaderSize) return 0;
  std::vector<std::uint8_t> image = EncodeHeaderRegion(layout, key);
  image.resize(layout.header.file_size, 0);  // data bytes are not looked at here

  static testing::DecodedPak pak;
  std::string why;
  Require(testing::DecodePak(image, key, pak, why));
  Require(testing::CheckWriterRules(pak).empty());
  Require(pak.data_order.size() == accepted.size());
  for (std::size_t d = 0; d < accepted.size(); ++d) {
    const PackEntry& e = table[accepted[d]];
    Require(pak.entries[pak.data_order[d]].path == std::string_view(e.name, e.name_length));
  }
  return 0;
}
