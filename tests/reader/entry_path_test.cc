// Rebuilding entry paths from the name pool, and the walk in data order.
#include "reader/entry_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrum {
namespace {

TEST(EntryPath, ReadsBothStoredPartsBackwards) {
  const std::string pool = std::string("\x12\x34txt.emdaer\0ne\\scod\0", 21);
  const std::vector<std::uint8_t> names(pool.begin(), pool.end());
  const std::vector<DirRecord> records{{0, 0, 0, 13, 0}, {0, 0, 0, 0, 0}};
  std::string path;
  ASSERT_TRUE(BuildEntryPath(0, names, records, path));
  EXPECT_EQ(path, "docs\\en\\readme.txt");
  ASSERT_TRUE(BuildEntryPath(1, names, records, path));
  EXPECT_EQ(path, "readme.txt");
}

TEST(EntryPath, RefusesOffsetsAndStringsOutsideThePool) {
  const std::vector<std::uint8_t> names{0x00, 0x01, 'a', 0, 'b', 'c'};  // "cb" has no NUL
  std::string path = "stale";
  EXPECT_FALSE(BuildEntryPath(0, names, std::vector<DirRecord>{{0, 0, 5, 0, 0}}, path));
  EXPECT_EQ(path, "");
  EXPECT_FALSE(BuildEntryPath(0, names, std::vector<DirRecord>{{0, 0, 0, 4, 0}}, path));
  EXPECT_FALSE(BuildEntryPath(0, names, std::vector<DirRecord>{{0, 0, 0xFFFFFF, 0, 0}}, path));
  EXPECT_FALSE(BuildEntryPath(1, names, std::vector<DirRecord>{{0, 0, 0, 0, 0}}, path));
  EXPECT_TRUE(BuildEntryPath(0, names, std::vector<DirRecord>{{0, 0, 0, 3, 0}}, path));  // empty directory
  EXPECT_EQ(path, "\\a");
}

// The builder keeps the last directory it turned round; switching between
// directories, to none and back, and past a damaged record must never hand
// out a stale one.
TEST(EntryPath, BuilderReusesDirectoriesWithoutMixingThemUp) {
  const std::string pool = std::string(
      "\x12\x34"
      "a\0\x12\x34"
      "b\0\x12\x34"
      "c\0one\0owt\0",
      20);
  const std::vector<std::uint8_t> names(pool.begin(), pool.end());
  const std::vector<DirRecord> records{{0, 0, 0, 12, 0}, {0, 0, 4, 12, 0}, {0, 0, 8, 16, 0}, {0, 0, 8, 0, 0},
                                       {0, 0, 0, 12, 0}, {0, 0, 8, 99, 0}, {0, 0, 4, 16, 0}};
  const std::vector<std::string> expected{"eno\\a", "eno\\b", "two\\c", "c", "eno\\a", "", "two\\b"};
  EntryPathBuilder builder(names, records);
  std::string path;
  for (std::uint32_t k = 0; k < records.size(); ++k) {
    EXPECT_EQ(builder.Build(k, path), !expected[k].empty()) << k;
    EXPECT_EQ(path, expected[k]) << k;
    std::string single;
    EXPECT_EQ(BuildEntryPath(k, names, records, single), !expected[k].empty());
    EXPECT_EQ(single, path) << k;
  }
}

}  // namespace
}  // namespace kestrum
