// Random pakfiles extracted, in this process, into a hostile destination on
// the real file system: links to files and directories (relative, absolute,
// dangling, one level down, inside a read-only folder), a FIFO, a hard
// link and the pakfile itself, beside an "outside" folder. After each run
// nothing outside may have changed, and every entry printed without an
// error line must be whole at its path, as a plain file.
//
// A randomised test rather than a libFuzzer target: with a file system
// fixture per run it reaches a few hundred runs a second, not thousands.
// POSIX only (links and FIFOs).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <random>

#include "commands/extraction.h"
#include "format/pak_path.h"
#include "io/batch_mode.h"
#include "reader/pak_reader.h"
#include "support/pak_decoder.h"
#include "support/pak_image.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;

constexpr const char* kNames[] = {
    "file_link", "abs_link", "dangling", "fifo", "hard", "dir_link", "abs_dir_link", "dangling_dir",
    "ro",        "sub",      "self.pak", "..",   ".",    "",         "plain",        "x"};

// Every name below `dir` with its type, and the bytes of its files.
std::string Snapshot(const std::string& dir) {
  std::string text;
  std::map<std::string, fs::path> sorted;
  for (const auto& e : fs::directory_iterator(dir)) sorted[e.path().filename().string()] = e.path();
  for (const auto& [name, path] : sorted) {
    const fs::file_status st = fs::symlink_status(path);
    text += name +
            (fs::is_directory(st)      ? "{" + Snapshot(path.string()) + "}"
             : fs::is_regular_file(st) ? "=" + ReadFileBytes(path.string())
                                       : "?") +
            ";";
  }
  return text;
}

void MakeDestination(const std::string& root, const std::vector<std::uint8_t>& pak) {
  const std::string out = root + "/outside", dest = root + "/dest";
  fs::create_directories(dest + "/sub");
  fs::create_directories(dest + "/ro");
  const std::pair<const char*, std::string> links[] = {
      {"file_link", "../outside/victim"},      {"abs_link", out + "/victim"},
      {"dangling", "../outside/created"},      {"dir_link", "../outside/dir"},
      {"abs_dir_link", out + "/dir"},          {"dangling_dir", "../outside/new"},
      {"sub/dir_link", "../../outside/dir"},   {"ro/dir_link", "../../outside/dir"},
      {"ro/file_link", "../../outside/victim"}};
  for (const auto& [at, target] : links) fs::create_symlink(target, dest + "/" + at);
  ASSERT_EQ(::mkfifo((dest + "/fifo").c_str(), 0644), 0);
  fs::create_hard_link(out + "/hard", dest + "/hard");
  fs::permissions(dest + "/ro", fs::perms::owner_write, fs::perm_options::remove);
  testing::WriteFile(dest + "/self.pak", std::string(pak.begin(), pak.end()));
}

// The entry path as a relative path without empty or "." components: one
// file, one key.
std::string Canonical(const std::string& path) {
  std::string relative;
  for (std::size_t start = 0, end = 0; start <= path.size(); start = end + 1) {
    end = std::min(path.find('\\', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") relative += (relative.empty() ? "" : "/") + part;
  }
  return relative;
}

std::vector<testing::TestFile> RandomFiles(std::mt19937& random) {
  auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  std::vector<testing::TestFile> files(1 + below(16));
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string& path = files[i].path;
    for (unsigned c = 0, count = 1 + below(4); c < count; ++c) {
      if (c > 0) path += '\\';
      if (below(5) > 0) {
        path += kNames[below(std::size(kNames))];
        continue;
      }
      // Raw bytes, control bytes and blanks included; a rare one too long
      // for any file system. Not those that end or mark a list line.
      for (unsigned k = 0, n = below(40) == 0 ? 5000 : 1 + below(12); k < n; ++k) {
        const char ch = static_cast<char>(1 + below(255));
        path += (ch == '\n' || ch == '\r' || ch == '*' || ch == '/' || ch == '\\') ? '_' : ch;
      }
    }
    // Now and then a file larger than the batches, so that a pakfile
    // replaced by its own entry is still being read.
    files[i].data.resize(below(100) == 0 ? 3000000 : below(2000));
    for (std::size_t b = 0; b < files[i].data.size(); ++b) files[i].data[b] = static_cast<char>(i * 31 + b / 7);
  }
  std::erase_if(files, [](const testing::TestFile& f) { return f.path.empty(); });
  return files;
}

// Run with small files created in groups by two threads, and one after the
// other (extraction_writer.h): both must keep every guarantee.
class RandomExtraction : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ForcePlainBatchesForTesting(GetParam()); }
  void TearDown() override { ForcePlainBatchesForTesting(false); }
};

TEST_P(RandomExtraction, NothingOutsideChangesAndEveryEntryWithoutAnErrorIsWhole) {
  testing::TempDir dir;
  const std::string root = dir.path(), dest = root + "/dest";
  testing::WriteFile(root + "/outside/victim", "victim");
  testing::WriteFile(root + "/outside/hard", "hard");
  testing::WriteFile(root + "/outside/dir/inner", "inner");
  const std::string outside = Snapshot(root + "/outside");
  std::mt19937 random(20261209);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<testing::TestFile> files = RandomFiles(random);
    if (files.empty()) continue;
    const std::vector<std::uint8_t> image = testing::MakePakImage(files);
    testing::DecodedPak pak;
    std::string why;
    ASSERT_TRUE(testing::DecodePak(image, {}, pak, why)) << why;
    MakeDestination(root, image);

    const std::int32_t id = PakOpen(dest + "/self.pak", 64, {}, 0, false);
    ASSERT_GE(id, 0);
    PakHeader header;
    std::vector<std::uint8_t> names;
    std::vector<DirRecord> records;
    PakGetDirectory(id, header, names, records);
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    EXPECT_EQ(ExtractPakfile(header, names, records, dest, out), 0);
    PakCloseAll();
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);

    ASSERT_EQ(Snapshot(root + "/outside"), outside);
    ASSERT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 2);
    // Each entry's line, then its error lines (names are in lower case, so
    // none starts like one of those).
    std::size_t at = printed.find('\n') + 1;
    std::map<std::string, std::string> written;  // the last entry written at each path
    for (const std::uint32_t k : pak.data_order) {
      const std::string line = DisplayName(pak.entries[k].path) + "\n";
      ASSERT_EQ(printed.compare(at, line.size(), line), 0) << printed.substr(at, 200);
      at += line.size();
      bool failed = false;
      for (; printed.compare(at, 7, "  ERROR") == 0 || printed.compare(at, 5, "Error") == 0; failed = true) {
        at = printed.find('\n', at) + 1;
      }
      if (!failed) written[Canonical(pak.entries[k].path)] = pak.entries[k].data;
    }
    EXPECT_EQ(at, printed.size());
    for (const auto& [relative, bytes] : written) {
      ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(dest + "/" + relative))) << relative;
      EXPECT_EQ(ReadFileBytes(dest + "/" + relative), bytes) << relative;
    }
    fs::permissions(dest + "/ro", fs::perms::owner_write, fs::perm_options::add);
    fs::remove_all(dest);
  }
}

INSTANTIATE_TEST_SUITE_P(Writes, RandomExtraction, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Plain" : "Grouped"; });

}  // namespace
}  // namespace kestrum
