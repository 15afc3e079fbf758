// The listed files of a build, checked, held and read in groups, with the
// system's queued service and with plain calls: the same findings either way.
#include "io/input_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "io/batch_mode.h"
#include "io/host_path.h"
#include "io/io_test_support.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using testing::WriteFile;

constexpr std::size_t kGroup = 64;

std::string Bytes(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 5 + seed * 11 + i / 311);
  return s;
}

class InputFilesTest : public testing::BatchServiceTest {
 protected:
  // Checks `paths` (numbered from 0) group by group.
  static std::vector<InputCheck> CheckAll(InputFiles& inputs, const std::vector<std::string>& paths) {
    std::vector<InputCheck> found(paths.size());
    for (std::size_t first = 0; first < paths.size(); first += kGroup) {
      const std::size_t n = std::min(kGroup, paths.size() - first);
      inputs.Check(first, std::span(paths).subspan(first, n), std::span(found).subspan(first, n));
    }
    return found;
  }

  // One piece that is a whole file.
  static InputPiece Whole(std::uint32_t file, const std::string& path, std::string& into) {
    return {file, into.size(), path, 0, std::span(reinterpret_cast<std::uint8_t*>(into.data()), into.size()),
            true, true};
  }

  testing::TempDir dir_;
};

TEST_P(InputFilesTest, OnlyRegularFilesThatOpenAreFound) {
  WriteFile(dir_ / "sub/plain", "plain");
  WriteFile(dir_ / "sub/empty", "");
  WriteFile(dir_ / "top", Bytes(70000, 1));
  fs::create_directories(dir_ / "sub/dir");
  const bool fifo = testing::MakeFifo(dir_ / "sub/fifo");
  const std::vector<std::string> paths{
      dir_ / "sub/plain", dir_ / "sub/empty", dir_ / "top",      dir_ / "sub/../sub/./plain", dir_ / "missing",
      dir_ / "sub/dir",   dir_ / "sub/dir/",  dir_ / "sub/fifo", dir_ / "sub/plain/",         "",
      dir_ / "nowhere/x"};
  InputFiles inputs(paths.size(), kGroup);
  if (!GetParam()) {
    EXPECT_FALSE(inputs.queued());  // the switch forces plain calls
  }
  const std::vector<InputCheck> found = CheckAll(inputs, paths);
  const std::vector<std::pair<bool, std::uint64_t>> expected{{true, 5},  {true, 0},  {true, 70000}, {true, 5},
                                                             {false, 0}, {false, 0}, {false, 0},    {false, 0},
                                                             {false, 0}, {false, 0}, {false, 0}};
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i == 7 && !fifo) continue;
    EXPECT_EQ(found[i].exists, expected[i].first) << paths[i];
    if (found[i].exists) {
      EXPECT_EQ(found[i].length, expected[i].second) << paths[i];
    }
  }
}

// Hundreds of files over a few directories, read in pieces of any size in
// runs that mix files: every byte arrives, and every file is closed after
// its last piece.
TEST_P(InputFilesTest, PiecesArriveWholeAndEveryFileIsClosed) {
  std::vector<std::string> paths, contents;
  for (std::size_t i = 0; i < 300; ++i) {
    paths.push_back(dir_ / ("d" + std::to_string(i % 7) + "/f" + std::to_string(i)));
    contents.push_back(Bytes(i % 13 == 0 ? 0 : i * 37 % 5000, static_cast<unsigned>(i)));
    WriteFile(paths.back(), contents.back());
  }
  const std::size_t before = testing::OpenDescriptors();
  {
    InputFiles inputs(paths.size(), kGroup);
    const std::vector<InputCheck> found = CheckAll(inputs, paths);
    std::vector<std::string> read(paths.size());
    std::vector<InputPiece> run;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      ASSERT_TRUE(found[i].exists) << paths[i];
      ASSERT_EQ(found[i].length, contents[i].size());
      read[i].assign(contents[i].size(), '\0');
      // Up to three pieces a file; runs of varying length.
      const std::size_t size = read[i].size();
      const std::size_t cuts[] = {0, size / 3, size / 3 + size / 5, size};
      auto* data = reinterpret_cast<std::uint8_t*>(read[i].data());
      for (std::size_t c = 0; c < 3; ++c) {
        if (c > 0 && cuts[c] == cuts[c + 1]) continue;
        run.push_back({static_cast<std::uint32_t>(i), size, paths[i], cuts[c],
                       std::span(data + cuts[c], cuts[c + 1] - cuts[c]), c == 0, cuts[c + 1] == size});
      }
      if (run.size() > i % 50 || i + 1 == paths.size()) {
        const InputOutcome outcome = inputs.Read(run);
        ASSERT_EQ(outcome.status, InputStatus::kOk) << i;
        EXPECT_EQ(outcome.failed, run.size());
        run.clear();
      }
    }
    for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(read[i], contents[i]) << paths[i];
    if (before > 0) {
      EXPECT_LE(testing::OpenDescriptors(), before + 16);  // the directories kept open
    }
  }
  if (before > 0) {
    EXPECT_EQ(testing::OpenDescriptors(), before);
  }
}

// Whatever happens to a file between its check and its read shows as a
// change at that file, and the files before it in the run are read.
TEST_P(InputFilesTest, ChangesAfterTheCheckAreFoundAtTheirFile) {
  if (!testing::OpenFilesCanBeChanged()) GTEST_SKIP() << "held files cannot change here";
  const std::string original = Bytes(3000, 9);
  const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> changes{
      {"removed", [](const std::string& p) { fs::remove(p); }},
      {"shrunk", [](const std::string& p) { WriteFile(p, "short"); }},
      {"grown", [&](const std::string& p) { WriteFile(p, original + "x"); }},
      {"made a directory",
       [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
       }},
      {"renamed over", [&](const std::string& p) {
         WriteFile(p + ".new", Bytes(3000, 10));
         fs::rename(p + ".new", p);
       }}};
  for (const bool forgotten : {false, true}) {
    for (const auto& [what, change] : changes) {
      // A file opened again by its path is known by its length only, as
      // without a queued service: another of the same length passes.
      if (forgotten && what == "renamed over") continue;
      SCOPED_TRACE(what + (forgotten ? ", opened again" : ""));
      const std::vector<std::string> paths{dir_ / "before", dir_ / "victim", dir_ / "after"};
      for (const std::string& p : paths) {
        fs::remove_all(p);
        WriteFile(p, original);
      }
      InputFiles inputs(paths.size(), kGroup);
      CheckAll(inputs, paths);
      if (forgotten) inputs.Forget(1);
      change(paths[1]);
      std::vector<std::string> read(3, std::string(original.size(), '\0'));
      const std::vector<InputPiece> run{Whole(0, paths[0], read[0]), Whole(1, paths[1], read[1]),
                                        Whole(2, paths[2], read[2])};
      const InputOutcome outcome = inputs.Read(run);
      EXPECT_EQ(outcome.status, InputStatus::kChanged);
      EXPECT_EQ(outcome.failed, 1u);
      EXPECT_EQ(read[0], original);
    }
  }
}

// Neighbours that come and go, and files let go and opened again: nothing
// changed, everything is read.
TEST_P(InputFilesTest, UnchangedFilesAreReadWhateverHappensAround) {
  std::vector<std::string> paths, contents;
  for (std::size_t i = 0; i < 100; ++i) {
    paths.push_back(dir_ / ("d" + std::to_string(i % 3) + "/f" + std::to_string(i)));
    contents.push_back(Bytes(100 + i, static_cast<unsigned>(i)));
    WriteFile(paths.back(), contents.back());
  }
  InputFiles inputs(paths.size(), kGroup);
  CheckAll(inputs, paths);
  WriteFile(dir_ / "d0/neighbour", "n");
  fs::rename(dir_ / "d0/neighbour", dir_ / "d1/neighbour");
  for (std::size_t i = 0; i < paths.size(); i += 4) inputs.Forget(static_cast<std::uint32_t>(i));
  std::vector<std::string> read(paths.size());
  std::vector<InputPiece> run;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    read[i].assign(contents[i].size(), '\0');
    run.push_back(Whole(static_cast<std::uint32_t>(i), paths[i], read[i]));
  }
  const InputOutcome outcome = inputs.Read(run);
  EXPECT_EQ(outcome.status, InputStatus::kOk);
  EXPECT_TRUE(read == contents);
}

INSTANTIATE_TEST_SUITE_P(Services, InputFilesTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Queued" : "Plain"; });

}  // namespace
}  // namespace kestrum
