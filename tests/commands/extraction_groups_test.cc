// Small files created in groups (by two threads at once, where the process
// may use two processors) must come out exactly as one file after the other
// would: the same lines, the same files, and after a failed write nothing of
// the files behind it, not even the directories they would need. Each case
// runs both ways, in this process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "commands/extraction.h"
#include "io/batch_mode.h"
#include "reader/pak_reader.h"
#include "support/pak_image.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = 0;
  std::string printed;
  std::map<std::string, std::string> tree;  // every path below the destination; directories as "/"
};

std::map<std::string, std::string> TreeOf(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(e.path(), root).generic_string();
    tree[relative] = e.is_directory() ? "/" : testing::ReadFileBytes(e.path().string());
  }
  return tree;
}

// Extracts the pakfile at `pak` into `dest`, in this process; with a file
// size limit of `limit` bytes (0: none) while it runs.
Outcome Extract(const std::string& pak, const std::string& dest, bool plain, std::uint64_t limit = 0) {
  ForcePlainBatchesForTesting(plain);
  Outcome outcome;
  const std::int32_t id = PakOpen(pak, 64, {}, 0, false);
  EXPECT_GE(id, 0);
  PakHeader header;
  std::vector<std::uint8_t> names;
  std::vector<DirRecord> records;
  PakGetDirectory(id, header, names, records);
  std::FILE* out = testing::ScratchStream();
  {
    const std::shared_ptr<void> limited = limit > 0 ? testing::LimitFileSize(limit) : nullptr;
    outcome.exit_code = ExtractPakfile(header, names, records, dest, out);
  }
  PakCloseAll();
  outcome.printed = testing::DrainAndClose(out);
  outcome.tree = TreeOf(dest);
  ForcePlainBatchesForTesting(false);
  return outcome;
}

std::string Data(std::size_t size, std::size_t seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed * 17 + i * 3);
  return s;
}

// Many small files over a few directories, some empty, one larger than a
// group's share, paths given twice: both ways give the same lines and files.
TEST(ExtractionGroups, SameLinesAndFilesEitherWay) {
  testing::TempDir dir;
  std::vector<testing::TestFile> files;
  for (std::size_t i = 0; i < 700; ++i) {
    const std::string path = "d" + std::to_string(i % 9) + "\\e" + std::to_string(i % 4) + "\\f" + std::to_string(i);
    files.push_back({path, Data(i % 5 == 0 ? 0 : i == 333 ? 600000 : i % 300, i)});
    // The same path twice within one group: the later one wins.
    if (i == 500) files.push_back({files[files.size() - 3].path, "second copy"});
    // A file, then a path that needs it to be a directory: its directory must
    // not be made ahead of the file.
    if (i == 600) {
      files.push_back({"d2\\e0\\clash", "a file"});
      files.push_back({"d2\\e0\\clash\\inner", "under a file"});
    }
  }
  files.push_back({"d1\\e1\\f1", "again"});
  files.push_back({"top.txt", "top"});
  const std::vector<std::uint8_t> image = testing::MakePakImage(files);
  testing::WriteFile(dir / "g.pak", std::string(image.begin(), image.end()));
  const Outcome grouped = Extract(dir / "g.pak", dir / "q", false);
  const Outcome plain = Extract(dir / "g.pak", dir / "p", true);
  EXPECT_EQ(grouped.exit_code, 0);
  EXPECT_EQ(plain.exit_code, 0);
  EXPECT_EQ(grouped.printed.substr(grouped.printed.find('\n')), plain.printed.substr(plain.printed.find('\n')));
  EXPECT_TRUE(grouped.tree == plain.tree);
  EXPECT_EQ(grouped.tree.at("d1/e1/f1"), "again");
  EXPECT_EQ(grouped.tree.at("d0/e1/f333"), files[333].data);
  EXPECT_EQ(grouped.tree.at("d3/e2/f498"), "second copy");
  EXPECT_EQ(grouped.tree.at("d2/e0/clash"), "a file");
}

// Whatever stands in the way of single entries in the middle of a run of
// small files (a directory, a link, a FIFO, an older file at the path, a
// link as a directory level) and a pakfile cut short inside its last files:
// each entry gets its own line and message in order, nothing outside the
// destination changes, and both ways end alike.
TEST(ExtractionGroups, ObstaclesAndShortReadsAreReportedPerEntry) {
  testing::TempDir dir;
  std::vector<testing::TestFile> files;
  for (std::size_t i = 0; i < 150; ++i) files.push_back({"a\\f" + std::to_string(i), Data(50 + i, i)});
  files.push_back({"link\\f", "through the link"});
  for (std::size_t i = 0; i < 20; ++i) files.push_back({"z\\f" + std::to_string(i), Data(5000, i)});
  std::vector<std::uint8_t> image = testing::MakePakImage(files);
  // The last 4096 bytes are padding: the cut falls among the z files.
  image.resize(image.size() - 4096 - 50000);
  testing::WriteFile(dir / "g.pak", std::string(image.begin(), image.end()));
  testing::WriteFile(dir / "outside/victim", "victim");
  const auto prepare = [&](const std::string& dest) {
    fs::create_directories(dest + "/a");
    if (!testing::MakeFifo(dest + "/a/f30")) return false;
    testing::WriteFile(dest + "/a/f10/inner", "a directory at the path");
    testing::WriteFile(dest + "/a/f40", "an older file, longer than the new one will be");
    fs::create_symlink(dir / "outside/victim", dest + "/a/f20");
    fs::create_directory_symlink(dir / "outside", dest + "/link");
    return true;
  };
  if (!prepare(dir / "q") || !prepare(dir / "p")) GTEST_SKIP() << "no FIFOs and links here";
  const Outcome grouped = Extract(dir / "g.pak", dir / "q", false);
  const Outcome plain = Extract(dir / "g.pak", dir / "p", true);
  EXPECT_EQ(grouped.exit_code, 0);
  EXPECT_EQ(plain.exit_code, 0);
  const std::string printed = grouped.printed.substr(grouped.printed.find('\n') + 1);
  EXPECT_EQ(printed, plain.printed.substr(plain.printed.find('\n') + 1));
  EXPECT_TRUE(grouped.tree == plain.tree);
  EXPECT_NE(printed.find("a\\f9\na\\f10\n  ERROR: Opening extracted file for writing failed!\na\\f11\n"),
            std::string::npos);
  EXPECT_NE(printed.find("a\\f149\nlink\\f\n  ERROR: Link in path, entry skipped!\nz\\f0\n"), std::string::npos);
  EXPECT_NE(printed.find("Error while reading input pakfile file!\n"), std::string::npos);
  EXPECT_EQ(printed.find("  ERROR", printed.find("z\\f0")), std::string::npos);
  EXPECT_EQ(testing::ReadFileBytes(dir / "outside/victim"), "victim");
  EXPECT_FALSE(fs::exists(dir / "outside/f"));
  for (const std::size_t i : {20, 30, 40, 41}) {
    EXPECT_FALSE(fs::is_symlink(dir / ("q/a/f" + std::to_string(i)))) << i;
    EXPECT_EQ(grouped.tree.at("a/f" + std::to_string(i)), files[i].data) << i;
  }
  EXPECT_EQ(grouped.tree.at("z/f0"), files[151].data);
}

// One file in the middle of a run of small ones cannot be written whole (a
// file size limit): the run stops there with exit code 1, the files after
// it in the same group are gone again, and the directory that only later
// files needed was never made.
TEST(ExtractionGroups, FailedWriteLeavesNothingAfterIt) {
  testing::TempDir dir;
  std::vector<testing::TestFile> files;
  // The failing file is followed by more of its group, then by files in a
  // directory not made yet, then by more files.
  const auto in_late = [](std::size_t i) { return i >= 40 && i < 60; };
  for (std::size_t i = 0; i < 120; ++i) {
    const std::string path = (in_late(i) ? "late\\f" : "a\\f") + std::to_string(i);
    files.push_back({path, Data(i == 30 ? 9000 : 100 + i, i)});
  }
  const std::vector<std::uint8_t> image = testing::MakePakImage(files);
  testing::WriteFile(dir / "g.pak", std::string(image.begin(), image.end()));
  if (!testing::LimitFileSize(1 << 30)) GTEST_SKIP() << "no file size limit on this system";
  for (const bool plain : {false, true}) {
    const Outcome outcome = Extract(dir / "g.pak", dir / (plain ? "p" : "q"), plain, 4096);
    SCOPED_TRACE(plain ? "plain" : "grouped");
    EXPECT_EQ(outcome.exit_code, 1);
    std::string expected;
    for (std::size_t i = 0; i <= 30; ++i) expected += "a\\f" + std::to_string(i) + "\n";
    expected += "Error while writing output file!\n";
    EXPECT_EQ(outcome.printed.substr(outcome.printed.find('\n') + 1), expected);
    EXPECT_EQ(outcome.tree.count("late"), 0u);
    for (std::size_t i = 0; i < 120; ++i) {
      if (in_late(i)) continue;
      const auto it = outcome.tree.find("a/f" + std::to_string(i));
      if (i < 30) {
        ASSERT_NE(it, outcome.tree.end()) << i;
        EXPECT_EQ(it->second, files[i].data) << i;
      } else if (i > 30) {
        EXPECT_EQ(it, outcome.tree.end()) << i;
      }
    }
  }
}

}  // namespace
}  // namespace kestrum
