#include "builder/orderings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "builder/list_file.h"
#include "support/list_text.h"

namespace kestrum {
namespace {

class Orders : public ::testing::Test {
 protected:
  // One entry per line; indices follow the lines.
  void Load(const std::string& lines) { list_.Parse(lines); }
  std::vector<std::string> Sorted(bool hash_order) {
    std::vector<std::uint32_t> idx(table_.size());
    for (std::uint32_t i = 0; i < idx.size(); ++i) idx[i] = i;
    hash_order ? SortHashOrder(table_, idx) : SortSplitOrder(table_, idx);
    std::vector<std::string> names;
    for (std::uint32_t i : idx) names.emplace_back(table_[i].name);
    return names;
  }
  testing::ListText list_;
  EntryTable& table_ = list_.table();
};

TEST_F(Orders, EqualHashesAreOrderedByTheirLastBytes) {
  Load("a~\nb_\nhrlbx.txt\nx.txt\n");
  ASSERT_EQ(table_[0].hash, table_[1].hash);
  ASSERT_EQ(table_[2].hash, table_[3].hash);
  EXPECT_LT(CompareHashOrder(table_[1], table_[0]), 0);  // '_' < '~'
  EXPECT_LT(CompareHashOrder(table_[3], table_[2]), 0);  // a name that ends the other comes first
  EXPECT_GT(CompareHashOrder(table_[2], table_[3]), 0);
  EXPECT_EQ(CompareHashOrder(table_[0], table_[0]), 0);
}

TEST_F(Orders, HashDecidesFirstAndBytesCompareUnsigned) {
  Load("readme\ndata\\a.txt\ndata\\sub\\c.txt\ndata\\b.txt\n");
  EXPECT_EQ(Sorted(true), (std::vector<std::string>{"data\\sub\\c.txt", "readme", "data\\a.txt", "data\\b.txt"}));
  // Two names with one hash whose last bytes differ above 0x7F.
  Load("\x80\x01\n\x7F\x20\n");
  ASSERT_EQ(table_[0].hash, table_[1].hash);
  EXPECT_GT(CompareHashOrder(table_[1], table_[0]), 0);  // 0x20 > 0x01 at the last byte
}

TEST_F(Orders, SplitOrderPutsDeepestFirstAndNoDirectoryLast) {
  Load("c.txt\na\\c.txt\na\\b\\c.txt\n");
  EXPECT_EQ(Sorted(false), (std::vector<std::string>{"a\\b\\c.txt", "a\\c.txt", "c.txt"}));
}

TEST_F(Orders, CopiesOfAPathEndUpNextToEachOther) {
  Load("dup\nzz\nother\ndup\nmore\ndup\n");
  const auto sorted = Sorted(true);
  const auto first = std::find(sorted.begin(), sorted.end(), "dup") - sorted.begin();
  EXPECT_EQ(sorted[first + 1], "dup");
  EXPECT_EQ(sorted[first + 2], "dup");
}

TEST_F(Orders, ManyNamesSharingHashesComeOutInHashOrder) {
  // 20,000 short random names, some listed twice: a few thousand share a
  // hash with another name.
  std::string lines;
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) {
    std::string name;
    for (std::uint32_t n = 2 + next() % 5; n > 0; --n) name.push_back(static_cast<char>('0' + next() % 64));
    names.push_back(next() % 10 == 0 && !names.empty() ? names[next() % names.size()] : name);
    lines += names.back() + "\n";
  }
  Load(lines);
  ASSERT_EQ(table_.size(), names.size());
  std::vector<std::uint32_t> idx(table_.size());
  for (std::uint32_t i = 0; i < idx.size(); ++i) idx[i] = i;
  SortHashOrder(table_, idx);
  std::size_t shared_hashes = 0;
  for (std::size_t i = 1; i < idx.size(); ++i) {
    ASSERT_LE(CompareHashOrder(table_[idx[i - 1]], table_[idx[i]]), 0) << i;
    shared_hashes += table_[idx[i - 1]].hash == table_[idx[i]].hash;
  }
  EXPECT_GT(shared_hashes, 1000u);
  std::sort(idx.begin(), idx.end());
  for (std::uint32_t i = 0; i < idx.size(); ++i) ASSERT_EQ(idx[i], i);
}

}  // namespace
}  // namespace kestrum
