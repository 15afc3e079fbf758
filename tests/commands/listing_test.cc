#include "commands/listing.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "format/pak_path.h"
#include "support/pak_decoder.h"
#include "support/pak_image.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::TestFile;

std::string Capture(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                    bool data_order) {
  std::FILE* out = testing::ScratchStream();
  ListPakfile(header, names, records, data_order, out);
  return testing::DrainAndClose(out);
}

struct Directory {
  PakHeader header;
  std::vector<std::uint8_t> names;
  std::vector<DirRecord> records;
};

Directory DirectoryOf(const std::vector<TestFile>& files) {
  testing::DecodedPak pak;
  std::string why;
  EXPECT_TRUE(testing::DecodePak(testing::MakePakImage(files), {}, pak, why)) << why;
  Directory d{pak.header, pak.pool, {}};
  for (const auto& e : pak.entries) d.records.push_back(e.record);
  return d;
}

TEST(Listing, DataOrderAndHashOrderListTheSamePaths) {
  const Directory d = DirectoryOf({{"Data/A.txt", "1"}, {"data/b.txt", ""}, {"data/sub/c.txt", "12"}, {"readme", "x"}});
  EXPECT_EQ(Capture(d.header, d.names, d.records, true), "data\\a.txt\ndata\\b.txt\ndata\\sub\\c.txt\nreadme\n");
  EXPECT_EQ(Capture(d.header, d.names, d.records, false),
            "[13335]data\\sub\\c.txt\n[22958]readme\n[29873]data\\a.txt\n[35890]data\\b.txt\n");
}

TEST(Listing, SharedHashesKeepTheStoredOrderAndCopiesAreListedTwice) {
  const Directory d = DirectoryOf({{"x.txt", "1"}, {"hrlbx.txt", "2"}, {"x.txt", "3"}});
  const std::string by_hash = Capture(d.header, d.names, d.records, false);
  EXPECT_EQ(by_hash, "[45050]x.txt\n[45050]x.txt\n[45050]hrlbx.txt\n");
  EXPECT_EQ(Capture(d.header, d.names, d.records, true), "x.txt\nhrlbx.txt\nx.txt\n");
}

TEST(Listing, DamagedDirectoryStopsOrSkipsWithoutReadingOutside) {
  Directory d = DirectoryOf({{"a\\one", "1"}, {"b\\two", "2"}, {"c\\three", "3"}});
  // A chain link past the directory ends the walk after what came before.
  Directory broken = d;
  broken.records[broken.header.first_in_data_order].next_in_data_order = 60000;
  EXPECT_EQ(Capture(broken.header, broken.names, broken.records, true), "a\\one\n");
  // A first_in_data_order outside lists nothing; an entry count above the
  // records is held to the records.
  broken = d;
  broken.header.first_in_data_order = 3;
  EXPECT_EQ(Capture(broken.header, broken.names, broken.records, true), "");
  broken = d;
  broken.header.entry_count = 1000;
  EXPECT_EQ(Capture(broken.header, broken.names, broken.records, false).size(),
            Capture(d.header, d.names, d.records, false).size());
  // A name offset outside the pool leaves that entry out of either listing.
  broken = d;
  broken.records[0].name_offset = static_cast<std::uint32_t>(broken.names.size());
  const std::string by_hash = Capture(broken.header, broken.names, broken.records, false);
  EXPECT_EQ(std::count(by_hash.begin(), by_hash.end(), '\n'), 2);
  // A pool cut short leaves strings without their NUL.
  broken = d;
  broken.names.resize(broken.names.size() - 1);
  const std::string listed = Capture(broken.header, broken.names, broken.records, true);
  EXPECT_LT(std::count(listed.begin(), listed.end(), '\n'), 3);
}

}  // namespace
}  // namespace kestrum
