#include "builder/name_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "builder/list_file.h"
#include "builder/orderings.h"
#include "support/list_text.h"

namespace kestrum {
namespace {

class NamePool : public ::testing::Test {
 protected:
  void Load(const std::string& lines) {
    list_.Parse(lines);
    accepted_.clear();
    for (std::uint32_t i = 0; i < table_.size(); ++i) accepted_.push_back(i);
    hash_order_ = split_order_ = accepted_;
    SortHashOrder(table_, hash_order_);
    SortSplitOrder(table_, split_order_);
  }
  NamePoolBuild Build() {
    NamePoolBuild out;
    EXPECT_TRUE(BuildNamePool(table_, hash_order_, split_order_, out, nullptr));
    return out;
  }
  testing::ListText list_;
  EntryTable& table_ = list_.table();
  std::vector<std::uint32_t> accepted_, hash_order_, split_order_;
};

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST_F(NamePool, SingleNameWithoutDirectory) {
  Load("abc\n");
  const NamePoolBuild out = Build();
  EXPECT_EQ(out.pool, (std::vector<std::uint8_t>{0x78, 0x62, 'c', 'b', 'a', 0}));
  EXPECT_EQ(out.directory[0].name_offset, 0u);
  EXPECT_EQ(out.directory[0].dir_offset, 0u);
}

TEST_F(NamePool, WorkedExampleSharesTheShorterDirectoryInsideTheLonger) {
  Load("data\\a.txt\ndata\\b.txt\ndata\\sub\\c.txt\nreadme\n");
  const NamePoolBuild out = Build();
  const std::string expected = std::string(
      "\x34\x17txt.c\0bus\\atad\0\x59\xAE"
      "emdaer\0\x74\xB1txt.a\0\x8C\x32txt.b\0",
      42);
  EXPECT_EQ(out.pool, Bytes(expected));
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> offsets{{0, 8}, {17, 0}, {26, 12}, {34, 12}};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(out.directory[k].name_offset, offsets[k].first) << k;
    EXPECT_EQ(out.directory[k].dir_offset, offsets[k].second) << k;
  }
}

TEST_F(NamePool, CopiesShareOneNameRecord) {
  Load("d\\x\nd\\x\nd\\x\n");
  const NamePoolBuild out = Build();
  for (std::size_t k = 1; k < 3; ++k) {
    EXPECT_EQ(out.directory[k].name_offset, out.directory[0].name_offset);
    EXPECT_EQ(out.directory[k].dir_offset, out.directory[0].dir_offset);
  }
  EXPECT_EQ(out.pool.size(), 2u + 2u + 2u);  // hash, "x", NUL, then "d", NUL
}

TEST_F(NamePool, LeadingAndTrailingBackslashes) {
  Load("\\a\nb\\\n");
  const NamePoolBuild out = Build();
  for (std::size_t k = 0; k < 2; ++k) {
    const PackEntry& e = table_[hash_order_[k]];
    const DirRecord& r = out.directory[k];
    EXPECT_NE(r.dir_offset, 0u);
    if (e.split == 0) {
      // An empty directory part points at the NUL ending some directory string.
      EXPECT_EQ(out.pool[r.dir_offset], 0);
    } else {
      // A path ending in '\' has a name record of its hash bytes and a NUL.
      EXPECT_EQ(out.pool[r.name_offset + 2], 0);
    }
  }
}

// The representative as the straightforward walk over the split order finds it.
std::uint32_t WalkForRepresentative(const EntryTable& table, const std::vector<std::uint32_t>& split_order,
                                    std::uint32_t e) {
  const std::int32_t s = table[e].split;
  for (std::uint32_t r : split_order) {
    if (table[r].split < s) continue;
    if (std::memcmp(table[r].name, table[e].name, static_cast<std::size_t>(s)) == 0) return r;
  }
  ADD_FAILURE() << "walk found nothing";
  return 0;
}

std::string RandomTree(std::mt19937& rng, int files) {
  // Few letters and short components make shared prefixes that do not stop
  // at a '\' (a\b against a\bc), the case where strings are shared mid-name.
  const char* parts[] = {"a", "b", "ab", "ba", "aa", "abc", "\xE9", ""};
  std::string lines;
  for (int i = 0; i < files; ++i) {
    const int depth = static_cast<int>(rng() % 5);
    std::string path;
    for (int d = 0; d < depth; ++d) path += std::string(parts[rng() % 8]) + "\\";
    path += parts[rng() % 8];
    if (rng() % 10 == 0 && !lines.empty()) path = lines.substr(0, lines.find('\n'));  // a copy
    lines += path + "\n";
  }
  return lines;
}

TEST_F(NamePool, IndexChoosesTheSameRepresentativeAsTheWalk) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 200; ++round) {
    Load(RandomTree(rng, 1 + static_cast<int>(rng() % 60)));
    const RepresentativeIndex index(table_, split_order_);
    for (std::uint32_t e : accepted_) {
      if (table_[e].split < 0) continue;
      ASSERT_EQ(index.Find(e), WalkForRepresentative(table_, split_order_, e))
          << "round " << round << " entry " << table_[e].name;
    }
  }
}

TEST_F(NamePool, ManyEntriesWithLongSharedPrefixesBuildQuickly) {
  // 65,535 entries in 28,672 directories under one long common prefix: a walk
  // over the split order per record would compare billions of bytes.
  const std::string root(200, 'r');
  std::string lines;
  for (int i = 0; i < 65535; ++i) {
    lines +=
        root + "\\dir" + std::to_string(i % 4096) + "\\sub" + std::to_string(i % 7) + "\\f" + std::to_string(i) + "\n";
  }
  Load(lines);
  const NamePoolBuild out = Build();
  // One directory string per distinct directory (every (dir, sub) pair
  // occurs), none for the shared parents.
  std::size_t stored_strings = 0;
  for (const PackEntry& e : table_) stored_strings += e.dir_string_offset >= 0;
  EXPECT_EQ(stored_strings, 4096u * 7u);
  EXPECT_EQ(out.directory.size(), 65535u);
}

}  // namespace
}  // namespace kestrum
