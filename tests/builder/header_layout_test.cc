#include "builder/header_layout.h"

#include <gtest/gtest.h>

#include <random>

#include "support/pak_decoder.h"
#include "support/pak_image.h"

namespace kestrum {
namespace {

using testing::DecodedPak;
using testing::DecodePak;
using testing::MakePakImage;
using testing::TestFile;

TEST(HeaderLayout, WorkedExampleByTheByte) {
  const std::vector<TestFile> files{
      {"data\\a.txt", "0123456789"}, {"data\\b.txt", ""}, {"data\\sub\\c.txt", "hello"}, {"readme", "readme!"}};
  const auto image = MakePakImage(files);
  ASSERT_EQ(image.size(), 4096u);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 13), "KESTR V 1.0\r\n");
  DecodedPak pak;
  std::string why;
  ASSERT_TRUE(DecodePak(image, {}, pak, why)) << why;
  EXPECT_EQ(pak.header.entry_count, 4u);
  EXPECT_EQ(pak.header.header_size, 158u);
  EXPECT_EQ(pak.header.file_size, 4096u);
  EXPECT_EQ(pak.header.first_in_data_order, 2u);
  const std::vector<DirRecord> expected{{5, 10, 0, 8, 1}, {7, 15, 17, 0, 0}, {10, 0, 26, 12, 3}, {0, 10, 34, 12, 0}};
  const std::vector<std::string> paths{"data\\sub\\c.txt", "readme", "data\\a.txt", "data\\b.txt"};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(pak.entries[k].record, expected[k]) << k;
    EXPECT_EQ(pak.entries[k].path, paths[k]);
  }
  // The data area holds a.txt at 158, c.txt at 168 and readme at 173, masked.
  EXPECT_EQ(image[158], '0' ^ 0x5A);
  EXPECT_EQ(image[168], 'h' ^ 0x5A);
  EXPECT_EQ(image[179], '!' ^ 0x5A);
  EXPECT_EQ(image[180], 0);
  EXPECT_EQ(testing::CheckWriterRules(pak), "");
}

TEST(HeaderLayout, VerbatimFilesAreStoredUnmasked) {
  const auto image = MakePakImage({{"plain.bin", "ABC", false}, {"masked.bin", "ABC", true}});
  DecodedPak pak;
  std::string why;
  ASSERT_TRUE(DecodePak(image, {}, pak, why)) << why;
  for (const auto& e : pak.entries) {
    const std::string stored(image.begin() + pak.header.header_size + e.record.data_offset,
                             image.begin() + pak.header.header_size + e.record.data_offset + 3);
    EXPECT_EQ(stored, e.path == "plain.bin" ? "ABC" : "\x1b\x18\x19") << e.path;
  }
}

TEST(HeaderLayout, LocaleKeyDecidesWhoCanReadThePool) {
  const auto image = MakePakImage({{"a\\b.txt", "x"}, {"c.txt", "yz"}}, LocaleKeyFromText("fr"));
  DecodedPak pak;
  std::string why;
  EXPECT_TRUE(DecodePak(image, LocaleKeyFromText("FR"), pak, why)) << why;
  EXPECT_FALSE(DecodePak(image, LocaleKeyFromText("de"), pak, why));
  EXPECT_FALSE(DecodePak(image, LocaleKey{}, pak, why));
}

TEST(HeaderLayout, PageAlignedTotalHasNoTail) {
  // 52 + 16 + 2 + 1 + 1 = 72 header bytes, so 4024 data bytes fill one page.
  const auto image = MakePakImage({{"f", std::string(4024, 'q')}});
  EXPECT_EQ(image.size(), 4096u);
  const auto longer = MakePakImage({{"f", std::string(4025, 'q')}});
  EXPECT_EQ(longer.size(), 8192u);
}

// Random trees with copies, empty files, shared and unshared prefixes, odd
// bytes and separators: every pakfile must decode under its key and keep
// every writer rule, and give back every file's bytes.
TEST(HeaderLayout, RandomListsKeepEveryRule) {
  std::mt19937 rng(99);
  const char* parts[] = {"a", "B", "ab", "Ba", "x y", "\xE9t\xE9", "a.b", "", "*"};
  for (int round = 0; round < 300; ++round) {
    std::vector<TestFile> files;
    const int count = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < count; ++i) {
      std::string path;
      const int depth = static_cast<int>(rng() % 4);
      for (int d = 0; d < depth; ++d) path += std::string(parts[rng() % 9]) + (rng() % 2 ? "/" : "\\");
      path += parts[rng() % 8];
      if (path.empty() || path[0] == '*') path = "e" + path;  // a leading '*' would be a marker
      if (rng() % 8 == 0 && !files.empty()) path = files[rng() % files.size()].path;
      files.push_back({path, std::string(rng() % 50, static_cast<char>('a' + i % 26)), rng() % 4 != 0});
    }
    const LocaleKey key = round % 3 == 0 ? LocaleKeyFromText("it") : LocaleKey{};
    const auto image = MakePakImage(files, key);
    DecodedPak pak;
    std::string why;
    ASSERT_TRUE(DecodePak(image, key, pak, why)) << "round " << round << ": " << why;
    ASSERT_EQ(testing::CheckWriterRules(pak), "") << "round " << round;
    ASSERT_EQ(pak.data_order.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      const auto& entry = pak.entries[pak.data_order[i]];
      std::string normalised = files[i].path;
      for (char& c : normalised) c = c == '/' ? '\\' : (c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
      ASSERT_EQ(entry.path, normalised) << "round " << round;
      std::string expected = files[i].data;
      if (!files[i].masked)
        for (char& c : expected) c = static_cast<char>(c ^ 0x5A);
      ASSERT_EQ(entry.data, expected) << "round " << round << " file " << i;
    }
  }
}

}  // namespace
}  // namespace kestrum
