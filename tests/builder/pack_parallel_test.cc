// Builds of many files, whose checking and copying two threads share: what
// is printed must follow list and data order exactly, up to and including
// the first failure, and the pakfile must hold every file's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "builder/list_file.h"
#include "builder/pack_writer.h"
#include "builder/scratch_dir_fixture.h"
#include "io/batch_mode.h"
#include "support/pak_decoder.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::ReadFileBytes;
using testing::WriteFile;

constexpr std::size_t kMiB = 1 << 20;

// Distinct bytes for each file, so that a piece copied to the wrong place shows.
std::string Contents(std::size_t file, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(file * 31 + i * 7 + i / 509);
  return bytes;
}

// Names spread over directories of 100: cheap to create on every system.
std::string Name(std::size_t i) { return "d" + std::to_string(i / 100) + "/f" + std::to_string(i); }
// The same as the pakfile and the messages name it.
std::string StoredName(std::size_t i) { return "d" + std::to_string(i / 100) + "\\f" + std::to_string(i); }

// Run with the system's queued service for the listed files and with plain
// calls (io/input_files.h).
class PackParallel : public testing::InScratchDir, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ForcePlainBatchesForTesting(GetParam());
    InScratchDir::SetUp();
    WriteFile("out.pak", "earlier pakfile");
  }
  void TearDown() override {
    InScratchDir::TearDown();
    ForcePlainBatchesForTesting(false);
  }

  // Plans the pakfile from `list`, lets `between` change the plan or the
  // files, and writes it. Returns the exit code; `checked` gets what the
  // planning printed and `packed` what the writing printed.
  int Build(const std::string& list, const std::function<void(PackPlan&)>& between, std::string& checked,
            std::string& packed) {
    WriteFile("list.txt", list);
    EntryTable table;
    EXPECT_EQ(ReadListFile("list.txt", table), 0);
    std::FILE* out = testing::ScratchStream();
    PackPlan plan;
    int code = PlanPakfile(table, plan, out);
    const long planned = std::ftell(out);
    if (code == 0) {
      between(plan);
      code = WritePlannedPakfile("out.pak", table, plan, out);
    }
    ReleaseListBuffers();
    const std::string printed = testing::DrainAndClose(out);
    checked = printed.substr(0, static_cast<std::size_t>(planned));
    packed = printed.substr(static_cast<std::size_t>(planned));
    return code;
  }

  // The files of the decoded pakfile in data order, as stored (with the
  // data mask removed).
  static std::vector<std::string> PackedData() {
    testing::DecodedPak pak;
    std::string why;
    EXPECT_TRUE(testing::DecodePakFile("out.pak", {}, pak, why)) << why;
    EXPECT_EQ(testing::CheckWriterRules(pak), "");
    std::vector<std::string> data;
    for (const std::uint32_t i : pak.data_order) data.push_back(pak.entries[i].data);
    return data;
  }

  static std::string PackingLines(std::size_t upto, std::size_t total) {
    std::string lines;
    for (std::size_t k = 1; k <= upto; ++k) {
      lines += "Packing file... " + std::to_string(k) + "/" + std::to_string(total) + "        \r";
    }
    return lines;
  }
};

TEST_P(PackParallel, MissingAndUnusableLinesAmongThousandsWarnInListOrder) {
  constexpr std::size_t kLines = 3000;
  // Missing at chunk edges, at progress lines, first and last; a directory
  // and a blank line among them.
  const std::set<std::size_t> missing{0, 63, 64, 127, 128, 129, 1000, 1001, 2047, 2999};
  std::string list;
  std::vector<std::string> expected_data;
  std::string expected;
  for (std::size_t i = 0; i < kLines; ++i) {
    if (i % 128 == 0) expected += "Checking existance... " + std::to_string(i + 1) + "/3000          \r";
    if (i == 700) {
      list += "\n";
      continue;
    }
    std::string name = Name(i);
    if (i == 1500) {
      std::filesystem::create_directories(name);
    } else if (missing.count(i) == 0) {
      WriteFile(name, Contents(i, i % 97 * 13));
      expected_data.push_back(Contents(i, i % 97 * 13));
      list += name + "\n";
      continue;
    }
    list += name + "\n";
    expected += "WARNING file doesn't exist: " + StoredName(i) + "\n";
  }
  std::string checked, packed;
  ASSERT_EQ(Build(
                list, [](PackPlan&) {}, checked, packed),
            0)
      << packed;
  ASSERT_EQ(checked.substr(0, expected.size()), expected);
  EXPECT_EQ(checked.find("WARNING", expected.size()), std::string::npos);
  const std::size_t packed_files = expected_data.size();
  EXPECT_EQ(packed, PackingLines(packed_files, packed_files) + "\n\n");
  EXPECT_TRUE(PackedData() == expected_data);
}

// Files of every size around the 1 MiB windows of the copy: ending on a
// window edge, empty files on an edge and past the last window, files over
// several windows masked and verbatim, held open by the check or opened again.
TEST_P(PackParallel, FilesAcrossWindowEdgesKeepTheirBytes) {
  const std::vector<std::size_t> sizes{kMiB - 100, 100, 0,        0, 2 * kMiB + 5, 17,           kMiB,
                                       3,          0,   kMiB / 2, 1, 3 * kMiB - 1, kMiB / 2 - 25};
  std::string list;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::string bytes = Contents(i, sizes[i]);
    WriteFile(Name(i), bytes);
    const bool verbatim = i % 3 == 1;
    list += (verbatim ? "*" : "") + Name(i) + "\n";
    if (verbatim) {
      for (char& c : bytes) c = static_cast<char>(c ^ 0x5A);
    }
    expected.push_back(bytes);
  }
  // The sizes fill exactly 8 MiB, and an empty file lies past the end.
  WriteFile(Name(sizes.size()), "");
  list += Name(sizes.size()) + "\n";
  expected.emplace_back();
  for (const bool reopen : {false, true}) {
    std::string checked, packed;
    const auto drop = [&](PackPlan& plan) {
      if (!reopen) return;
      for (std::size_t k = 0; k < plan.accepted.size(); k += 2) ForgetCheckedFile(plan, k);
    };
    ASSERT_EQ(Build(list, drop, checked, packed), 0) << packed;
    EXPECT_NE(checked.find("data=8388608)"), std::string::npos);
    EXPECT_EQ(packed, PackingLines(expected.size(), expected.size()) + "\n\n");
    EXPECT_TRUE(PackedData() == expected) << "reopen " << reopen;
  }
}

// A file that vanishes or changes after the check, among thousands: the
// copy prints every line up to that file's and then its error, and leaves
// nothing behind, whichever thread read ahead.
TEST_P(PackParallel, ChangedFileStopsTheCopyAtItsOwnLine) {
  constexpr std::size_t kFiles = 4000;
  std::string list;
  const auto size = [](std::size_t i) { return i == 3100 ? 3 * kMiB : i % 50 * 41; };
  for (std::size_t i = 0; i < kFiles; ++i) {
    WriteFile(Name(i), Contents(i, size(i)));
    list += Name(i) + "\n";
  }
  struct Case {
    std::size_t victim;
    bool keep_open;  // the check's own handle is used (else the file is opened again)
    std::function<void(const std::string&)> change;
  };
  const auto remove = [](const std::string& path) { std::filesystem::remove(path); };
  const auto shrink = [](const std::string& path) { WriteFile(path, "short"); };
  const auto grow = [](const std::string& path) { WriteFile(path, std::string(4 * kMiB, 'g')); };
  const std::vector<Case> cases{
      {2345, false, remove}, {2345, true, remove}, {0, false, remove},  {kFiles - 1, true, shrink},
      {3100, true, shrink},  {3100, false, grow},  {1777, false, grow},
  };
  for (const Case& c : cases) {
    if (c.keep_open && !testing::OpenFilesCanBeChanged()) continue;
    std::string checked, packed;
    const auto change = [&](PackPlan& plan) {
      // Every other file opened again, to mix both kinds of input.
      for (std::size_t k = 1; k < plan.accepted.size(); k += 2) ForgetCheckedFile(plan, k);
      if (!c.keep_open) ForgetCheckedFile(plan, c.victim);
      c.change(Name(c.victim));
    };
    EXPECT_EQ(Build(list, change, checked, packed), 1);
    EXPECT_EQ(packed, PackingLines(c.victim + 1, kFiles) + "Input file changed size: '" + StoredName(c.victim) + "'\n")
        << "victim " << c.victim << " keep_open " << c.keep_open;
    ExpectNothingLeft();
    WriteFile(Name(c.victim), Contents(c.victim, size(c.victim)));
  }
}

// Files over several windows that start inside one, so that each has a
// first, middle and last piece in chunks that both threads read at once:
// the last piece, which closes the file, must wait for the middle ones.
TEST_P(PackParallel, FilesOverSeveralWindowsAreReadWholeByBothThreads) {
  std::string list;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < 24; ++i) {
    const std::size_t size = i % 2 == 0 ? 300000 + i : 2 * kMiB + 700000 + i;
    expected.push_back(Contents(i, size));
    WriteFile(Name(i), expected.back());
    list += Name(i) + "\n";
  }
  for (int round = 0; round < 3; ++round) {
    std::string checked, packed;
    ASSERT_EQ(Build(
                  list, [](PackPlan&) {}, checked, packed),
              0)
        << packed;
    ASSERT_TRUE(PackedData() == expected) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, PackParallel, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Plain" : "Queued"; });

}  // namespace
}  // namespace kestrum
