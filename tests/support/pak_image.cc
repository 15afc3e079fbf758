#include "support/pak_image.h"

#include <stdexcept>

#include "builder/header_layout.h"
#include "builder/list_file.h"
#include "format/mask.h"

namespace kestrum::testing {

std::vector<std::uint8_t> MakePakImage(const std::vector<TestFile>& files, const LocaleKey& key) {
  std::string text;
  for (const TestFile& f : files) text += (f.masked ? "" : "*") + f.path + "\n";
  text.push_back('\0');
  std::string source = text;
  EntryTable table;
  ParseListBuffer(text, source, table);
  if (table.size() != files.size()) throw std::invalid_argument("test file paths must not hold line ends");

  std::vector<std::uint32_t> accepted;
  std::uint32_t total = 0;
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    if (table[i].name_length == 0) continue;
    table[i].size = static_cast<std::uint32_t>(files[i].data.size());
    table[i].data_offset = total;
    total += table[i].size;
    accepted.push_back(i);
  }
  HeaderLayout layout;
  if (!LayOutHeader(table, accepted, layout, nullptr)) throw std::logic_error("no representative");
  std::vector<std::uint8_t> image = EncodeHeaderRegion(layout, key);
  for (std::uint32_t i : accepted) {
    std::vector<std::uint8_t> data(files[i].data.begin(), files[i].data.end());
    if (files[i].masked) MaskData(data);
    image.insert(image.end(), data.begin(), data.end());
  }
  image.resize(layout.header.file_size, 0);
  return image;
}

}  // namespace kestrum::testing
