#include "builder/list_file.h"

#include <gtest/gtest.h>

#include "format/pak_path.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

// Parses list text held by the fixture, so entry names stay valid.
class ListParse : public ::testing::Test {
 protected:
  EntryTable Parse(const std::string& bytes, std::size_t limit = kNoEntryLimit) {
    text_ = bytes + '\0';
    source_ = text_;
    EntryTable table;
    ParseListBuffer(text_, source_, table, limit);
    return table;
  }
  std::string text_, source_;
};

std::vector<std::string> Names(const EntryTable& table) {
  std::vector<std::string> names;
  for (const PackEntry& e : table) names.emplace_back(e.name, e.name_length);
  return names;
}

TEST_F(ListParse, EntryFieldsFollowTheNormalisedPath) {
  const EntryTable t = Parse("A/B.TXT\r\n*Music\\Track.ogg\n**\n\\a.txt\na\\b\\c.txt\n");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_STREQ(t[0].name, "a\\b.txt");
  EXPECT_EQ(t[0].name_length, 7u);
  EXPECT_EQ(t[0].split, 1);
  EXPECT_EQ(t[0].mask_data, 1);
  EXPECT_EQ(t[0].hash, NameHash("a\\b.txt"));
  EXPECT_STREQ(t[0].source, "A/B.TXT");  // the line's own text, for opening the file
  EXPECT_STREQ(t[1].name, "music\\track.ogg");
  EXPECT_STREQ(t[1].source, "Music\\Track.ogg");
  EXPECT_EQ(t[1].split, 5);
  EXPECT_EQ(t[1].mask_data, 0);
  EXPECT_EQ(t[2].name_length, 0u);
  EXPECT_EQ(t[2].mask_data, 0);
  EXPECT_EQ(t[2].hash, 0);
  EXPECT_EQ(t[2].split, -1);
  EXPECT_EQ(t[3].split, 0);
  EXPECT_EQ(t[4].split, 3);
}

TEST_F(ListParse, EveryLineEndStyleGivesTheSameEntries) {
  const std::vector<std::string> expected{"a.txt", "", "dir\\b.txt"};
  EXPECT_EQ(Names(Parse("a.txt\r\n\r\ndir/b.txt\r\n")), expected);
  EXPECT_EQ(Names(Parse("a.txt\n\ndir/b.txt\n")), expected);
  EXPECT_EQ(Names(Parse("a.txt\r\rdir/b.txt\r")), expected);
  EXPECT_EQ(Names(Parse("a.txt\n\r\n\rdir/b.txt\n\r")), expected);
}

TEST_F(ListParse, UnterminatedLastLineAndNulEndTheList) {
  EXPECT_TRUE(Parse("only.txt").empty());
  EXPECT_EQ(Names(Parse("a\nb")), std::vector<std::string>{"a"});
  EXPECT_EQ(Names(Parse(std::string("a\nb\0c\nd\n", 8))), std::vector<std::string>{"a"});
  EXPECT_TRUE(Parse("").empty());
  // CR LF LF: one pair, then a lone LF closing an empty line.
  EXPECT_EQ(Names(Parse("a\r\n\n")), (std::vector<std::string>{"a", ""}));
}

TEST_F(ListParse, OnlyAsciiLettersFoldAndBlanksStay) {
  const EntryTable t = Parse(" a.txt \n\xC4\xE9Z\n");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(std::string(t[0].name), " a.txt ");
  EXPECT_EQ(t[0].name_length, 7u);
  EXPECT_NE(t[0].hash, NameHash("a.txt"));
  EXPECT_EQ(std::string(t[1].name), "\xC4\xE9z");
  EXPECT_EQ(t[1].hash, NameHash("\xC4\xE9z"));
}

TEST_F(ListParse, StarInsideALineIsAnOrdinaryByte) {
  const EntryTable t = Parse("*a*b\\c*\n");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_STREQ(t[0].name, "a*b\\c*");
  EXPECT_EQ(t[0].name_length, 6u);
  EXPECT_EQ(t[0].hash, NameHash("a*b\\c*"));
  EXPECT_EQ(t[0].split, 3);
  EXPECT_EQ(t[0].mask_data, 0);
}

TEST_F(ListParse, StopsAtTheEntryLimit) {
  std::string many;
  for (int i = 0; i < 100; ++i) many += "f\n";
  EXPECT_EQ(Parse(many, 10).size(), 10u);
}

TEST_F(ListParse, VeryLongLineKeepsItsSplitIndex) {
  const std::string dir(40000, 'd');
  const EntryTable t = Parse(dir + "\\file\n");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].split, 40000);
}

TEST(ReadListFile, ReadsAFileAndAppendsAfterExistingEntries) {
  testing::TempDir dir;
  testing::WriteFile(dir / "one.txt", "x\ny\n");
  testing::WriteFile(dir / "two.txt", "Z\n");
  EntryTable table;
  ASSERT_EQ(ReadListFile(dir / "one.txt", table), 0);
  ASSERT_EQ(ReadListFile(dir / "two.txt", table), 0);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_STREQ(table[0].name, "x");  // earlier buffers stay valid
  EXPECT_STREQ(table[2].name, "z");
  ReleaseListBuffers();
}

TEST(ReadListFile, MissingDirectoryOrUnreadableIsRefused) {
  testing::TempDir dir;
  EntryTable table;
  EXPECT_EQ(ReadListFile(dir / "missing.txt", table), 1);
  EXPECT_EQ(ReadListFile(dir.path(), table), 1);
  testing::WriteFile(dir / "empty.txt", "");
  EXPECT_EQ(ReadListFile(dir / "empty.txt", table), 0);
  EXPECT_TRUE(table.empty());
  testing::WriteFile(dir / "secret.txt", "a\n");
  if (const auto locked = testing::LockOutReaders(dir / "secret.txt")) {
    EXPECT_EQ(ReadListFile(dir / "secret.txt", table), 1);
  }
  ReleaseListBuffers();
}

}  // namespace
}  // namespace kestrum
