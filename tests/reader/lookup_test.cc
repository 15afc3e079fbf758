// Name lookup: every path from every starting record, copies of one path,
// shadowing between pakfiles, damaged directories, and the cost of opening
// files in data order.
#include <gtest/gtest.h>

#include <algorithm>

#include "format/pak_path.h"
#include "reader/pak_find_entry.h"
#include "reader/pak_registry.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::ReaderTest;
using testing::TestFile;

std::string Normalized(std::string path) {
  NormalizePakPath(path);
  return path;
}

PakFileHandle Find(std::string_view path, bool resolve = false) {
  PakFileHandle handle;
  handle.entry = 12345;
  PakFindEntry(Normalized(std::string(path)), handle, resolve);
  return handle;
}

// A directory assembled by hand, for layouts a builder would not make.
struct HandDirectory {
  std::vector<std::uint8_t> names;
  std::vector<DirRecord> records;

  // A name record for a path without a directory part.
  std::uint32_t AddName(const std::string& name) {
    const auto offset = static_cast<std::uint32_t>(names.size());
    const std::uint16_t hash = NameHash(name);
    names.push_back(static_cast<std::uint8_t>(hash >> 8));
    names.push_back(static_cast<std::uint8_t>(hash & 0xFF));
    names.insert(names.end(), name.rbegin(), name.rend());
    names.push_back(0);
    return offset;
  }
  void Add(std::uint32_t name_offset, std::uint32_t data_offset, std::uint32_t size = 1) {
    records.push_back(DirRecord{.size = size, .data_offset = data_offset, .name_offset = name_offset});
  }
  // Indexed, lookups go through the name hashes as in an opened pakfile;
  // otherwise they bisect the records.
  OpenPakfile& Register(std::uint32_t hint, bool indexed = true) {
    auto pak = std::make_unique<OpenPakfile>();
    pak->id = TakeNextPakId();
    pak->records = records;
    pak->names = names;
    if (indexed) IndexNameHashes(*pak);
    pak->next_hint = hint;
    PakRegistry().push_back(std::move(pak));
    return *PakRegistry().back();
  }
};

class LookupTest : public ReaderTest {};

TEST_F(LookupTest, EveryPathIsFoundFromEveryStartingRecord) {
  std::vector<TestFile> files;
  for (int i = 0; i < 90; ++i) {
    const std::string dir = i % 3 == 0 ? "" : (i % 3 == 1 ? "art/" : "art/ui/");
    files.push_back({dir + "f" + std::to_string(i * 37 % 101) + (i % 2 ? ".png" : ".txt"), std::string(i + 1, 'x')});
  }
  files.push_back({"b.txt", "just b"});
  files.push_back({"a/b.txt", "a's b"});
  const std::int32_t id = PakOpen(WritePak("many.pak", files), 64, "", 0, false);
  ASSERT_GE(id, 0);
  OpenPakfile& pak = *PakRegistry().back();
  for (std::uint32_t hint = 0; hint < pak.records.size(); ++hint) {
    for (const TestFile& file : files) {
      pak.next_hint = hint;
      const PakFileHandle found = Find(file.path);
      ASSERT_EQ(found.pak_id, id) << file.path << " from " << hint;
      EXPECT_EQ(pak.records[static_cast<std::size_t>(found.entry)].size, file.data.size()) << file.path;
    }
  }
  // Case and slashes do not matter; a file name without its directory, or a
  // directory, is not a path of the pakfile.
  EXPECT_EQ(testing::ReadWhole("ART/UI\\F1.png"), std::string(72, 'x'));
  for (const char* absent : {"f1.png" /* only art/ui/f1.png exists */, "art", "art/ui", "a/b.txt/", "xb.txt"}) {
    const PakFileHandle found = Find(absent);
    EXPECT_EQ(found.pak_index, -1) << absent;
    EXPECT_EQ(found.entry, 12345) << absent;
  }
}

TEST_F(LookupTest, AFileNameSortsBeforeTheSameNameInADirectory) {
  ASSERT_GE(PakOpen(WritePak("ab.pak", {{"a/b.txt", "1"}}), 64, "", 0, false), 0);
  const OpenPakfile& pak = *PakRegistry().back();
  const std::uint16_t hash = NameHash("a\\b.txt");
  EXPECT_LT(CompareEntryName("b.txt", hash, 0, pak), 0);
  EXPECT_EQ(CompareEntryName("a\\b.txt", hash, 0, pak), 0);
  EXPECT_GT(CompareEntryName("xa\\b.txt", hash, 0, pak), 0);
  EXPECT_EQ(Find("b.txt").pak_index, -1);
}

TEST_F(LookupTest, NewerPakfilesShadowOlderOnesAndTinyDirectoriesAreScanned) {
  EXPECT_EQ(Find("solo").pak_index, -1);  // nothing open
  EXPECT_EQ(Find("solo").pak_id, -1);
  const std::int32_t one = PakOpen(WritePak("one.pak", {{"solo", "1"}}), 64, "", 0, false);
  const std::int32_t two = PakOpen(WritePak("two.pak", {{"solo", "22"}, {"pair", "333"}}), 64, "", 0, false);
  ASSERT_GE(one, 0);
  ASSERT_GE(two, 0);
  for (std::uint32_t hint : {0u, 1u, 7u}) {
    PakRegistry()[1]->next_hint = hint;
    EXPECT_EQ(Find("solo").pak_id, two);
    EXPECT_EQ(Find("pair").pak_id, two);
  }
  PakClose(1);
  EXPECT_EQ(Find("solo").pak_id, one);
  EXPECT_EQ(Find("pair").pak_id, -1);
}

TEST_F(LookupTest, OfSeveralCopiesTheNearestAheadOfTheHintIsTaken) {
  HandDirectory dir;
  const std::uint32_t copies = dir.AddName("c");
  const std::uint32_t other = dir.AddName("zzz");
  ASSERT_LT(NameHash("c"), NameHash("zzz"));
  dir.Add(copies, 1000);
  dir.Add(copies, 5000);
  dir.Add(copies, 9000);
  for (std::uint32_t at : {4000u, 7000u, 5000u, 0u, 20000u}) dir.Add(other, at);
  for (bool indexed : {true, false}) {
    OpenPakfile& pak = dir.Register(0, indexed);
    const struct {
      std::uint32_t hint;
      std::int32_t chosen;
    } cases[] = {{3, 1}, {4, 2}, {5, 1}, {6, 0}, {7, 2}};  // hint data offsets 4000, 7000, 5000, 0, 20000
    for (const auto& c : cases) {
      pak.next_hint = c.hint;
      EXPECT_EQ(Find("c", true).entry, c.chosen) << c.hint << " indexed " << indexed;
      const PakFileHandle plain = Find("c", false);
      EXPECT_GE(plain.entry, 0);
      EXPECT_LE(plain.entry, 2);
    }
    // Starting on a copy takes that copy.
    pak.next_hint = 2;
    EXPECT_EQ(Find("c", true).entry, 2);
    PakCloseAll();
  }
}

TEST_F(LookupTest, ManyPathsOfOneHashAreEachFoundByBisection) {
  // Three-byte names that share one hash, of bytes that normalising leaves
  // alone (no capitals, no slashes; bytes from 0x80 up pass as they are).
  std::vector<char> alphabet;
  for (int c = 0x21; c <= 0xFF; ++c) {
    if (c != '/' && c != '\\' && c != 0x7F && !(c >= 'A' && c <= 'Z')) alphabet.push_back(static_cast<char>(c));
  }
  const std::uint16_t shared = NameHash("abc");
  std::vector<TestFile> files;
  for (char a : alphabet) {
    for (char b : alphabet) {
      for (char c : alphabet) {
        const std::string name{a, b, c};
        if (NameHash(name) == shared && files.size() < 40) files.push_back({name, name});
      }
    }
  }
  ASSERT_EQ(files.size(), 40u);
  files.push_back({"other", "o"});
  ASSERT_GE(PakOpen(WritePak("one_hash.pak", files), 64, "", 0, false), 0);
  OpenPakfile& pak = *PakRegistry().back();
  for (std::uint32_t hint = 0; hint < pak.records.size(); ++hint) {
    for (const TestFile& file : files) {
      pak.next_hint = hint;
      const std::uint64_t before = EntryComparisonsOnThisThread();
      const PakFileHandle found = Find(file.path);
      // The hint, then a bisection of the records with that hash.
      EXPECT_LE(EntryComparisonsOnThisThread() - before, 8u) << file.path;
      ASSERT_EQ(found.pak_index, 0) << file.path << " from " << hint;
      EXPECT_EQ(testing::ReadWhole(file.path), file.data);
    }
  }
  EXPECT_EQ(Find("zzzz").pak_index, -1);
}

TEST_F(LookupTest, DamagedDirectoriesNeitherCrashNorReadOutside) {
  HandDirectory dir;
  const std::uint32_t good = dir.AddName("good");
  dir.Add(0xFFFFFF, 0);  // name record far past the pool
  dir.Add(good, 0);
  dir.records.back().dir_offset = 0xFFFFF0;  // directory string past the pool
  dir.Add(good, 0);
  dir.names.back() = 'x';  // the pool's last name loses its NUL
  dir.Add(static_cast<std::uint32_t>(dir.names.size() - 1), 0);
  for (bool indexed : {true, false}) {
    for (std::uint32_t hint : {0u, 3u, 4u, 65535u, 0xFFFFFFFFu}) {
      dir.Register(hint, indexed);
      for (const char* path : {"good", "x", "", "\\", "dir\\good"}) {
        const PakFileHandle found = Find(path, true);
        if (found.pak_index >= 0) {
          EXPECT_LT(found.entry, 4);
        }
      }
      PakCloseAll();
    }
  }
}

TEST_F(LookupTest, OpeningEveryFileInDataOrderCostsAboutOneComparisonEach) {
  std::vector<TestFile> files;
  files.reserve(kMaxEntries);
  for (std::uint32_t i = 0; i < kMaxEntries; ++i) {
    files.push_back({"d" + std::to_string(i % 50) + "/" + std::to_string(i * 7919 % 100003) + ".dat",
                     std::string(1, static_cast<char>(i))});
  }
  ASSERT_GE(PakOpen(WritePak("full.pak", files), 64, "", 0, false), 0);
  const std::uint64_t before = EntryComparisonsOnThisThread();
  for (const TestFile& file : files) {
    PakFileHandle* handle = PakFileOpen(file.path);
    ASSERT_NE(handle, nullptr) << file.path;
    PakFileClose(handle);
  }
  const std::uint64_t comparisons = EntryComparisonsOnThisThread() - before;
  EXPECT_GE(comparisons, files.size());
  EXPECT_LE(comparisons, files.size() + 2);
  // Out of order, it bisects: no more than about log2(65535) + 2 per lookup.
  const std::uint64_t start = EntryComparisonsOnThisThread();
  for (std::size_t i = files.size(); i-- > 0;) {
    if (i % 97 == 0) {
      EXPECT_EQ(Find(files[i].path).pak_index, 0);
    }
  }
  EXPECT_LE(EntryComparisonsOnThisThread() - start, (files.size() / 97 + 1) * 19);
}

}  // namespace
}  // namespace kestrum
