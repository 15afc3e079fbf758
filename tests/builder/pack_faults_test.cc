// Files that change between the existence check and the copy: the build
// must stop with its message and leave no pakfile behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

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

// Run with the system's queued service for the listed files and with plain
// calls (io/input_files.h).
class PackFaults : public testing::InScratchDir, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (!testing::OpenFilesCanBeChanged()) GTEST_SKIP() << "files held open for the copy cannot change here";
    ForcePlainBatchesForTesting(GetParam());
    InScratchDir::SetUp();
    Reset();
  }
  void TearDown() override {
    InScratchDir::TearDown();
    ForcePlainBatchesForTesting(false);
  }
  static void Reset() {
    std::filesystem::remove_all("victim");
    std::filesystem::remove_all("target");
    std::filesystem::remove_all("links");
    WriteFile("first", "1111");
    WriteFile("victim", "original bytes");
    WriteFile("last", "2222");
    WriteFile("list.txt", "first\nvictim\nlast\n");
    WriteFile("out.pak", "earlier pakfile");
  }
  // Plans the pakfile, runs `change`, then writes; returns the exit code and
  // what the writing half printed.
  int PlanChangeWrite(const std::function<void()>& change, std::string& printed) {
    EntryTable table;
    EXPECT_EQ(ReadListFile("list.txt", table), 0);
    std::FILE* out = testing::ScratchStream();
    PackPlan plan;
    EXPECT_EQ(PlanPakfile(table, plan, out), 0);
    const long planned = std::ftell(out);
    change();
    const int code = WritePlannedPakfile("out.pak", table, plan, out);
    ReleaseListBuffers();
    printed = testing::DrainAndClose(out, planned);
    return code;
  }
};

TEST_P(PackFaults, ShrunkGrownVanishedOrReplacedFilesStopTheBuild) {
  const std::vector<std::function<void()>> changes{
      [] { WriteFile("victim", "short"); },
      [] { WriteFile("victim", "original bytes and then some"); },
      [] { std::filesystem::remove("victim"); },
      [] {
        std::filesystem::remove("victim");
        std::filesystem::create_directory("victim");
      },
      // Another file of the same length renamed over it: only the name
      // tells.
      [] {
        WriteFile("other", "ORIGINAL BYTES");
        std::filesystem::rename("other", "victim");
      },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    Reset();
    std::string printed;
    EXPECT_EQ(PlanChangeWrite(changes[i], printed), 1) << "change " << i;
    EXPECT_EQ(printed,
              "Packing file... 1/3        \r"
              "Packing file... 2/3        \r"
              "Input file changed size: 'victim'\n")
        << "change " << i;
    ExpectNothingLeft();
  }
}

// A listed name that is a symbolic link into another directory (and the
// output in a third): the file it led to is removed, or another of the same
// length takes its name there.
TEST_P(PackFaults, ChangedTargetOfALinkStopsTheBuild) {
  const std::vector<std::function<void()>> changes{
      [] { std::filesystem::remove("target/real"); },
      [] {
        WriteFile("target/other", "ORIGINAL BYTES");
        std::filesystem::rename("target/other", "target/real");
      },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    Reset();
    WriteFile("links/first", "1111");
    WriteFile("target/real", "original bytes");
    std::filesystem::create_symlink("../target/real", "links/victim");
    WriteFile("list.txt", "links/first\nlinks/victim\n");
    std::string printed;
    EXPECT_EQ(PlanChangeWrite(changes[i], printed), 1) << "change " << i;
    EXPECT_EQ(printed,
              "Packing file... 1/2        \r"
              "Packing file... 2/2        \r"
              "Input file changed size: 'links\\victim'\n")
        << "change " << i;
    ExpectNothingLeft();
  }
}

TEST_P(PackFaults, SameSizeChangeIsPackedAsItNowStands) {
  std::string printed;
  ASSERT_EQ(PlanChangeWrite([] { WriteFile("victim", "replaced bytes"); }, printed), 0);
  testing::DecodedPak pak;
  std::string why;
  ASSERT_TRUE(testing::DecodePakFile("out.pak", {}, pak, why));
  EXPECT_EQ(pak.entries[pak.data_order[1]].data, "replaced bytes");
}

// Files that come and go beside the listed ones change nothing: the listed
// files are packed as they were checked.
TEST_P(PackFaults, NeighboursComingAndGoingChangeNothing) {
  WriteFile("gone", "x");
  std::string printed;
  ASSERT_EQ(PlanChangeWrite(
                [] {
                  WriteFile("new neighbour", "y");
                  std::filesystem::remove("gone");
                  std::filesystem::rename("new neighbour", "renamed neighbour");
                },
                printed),
            0)
      << printed;
  testing::DecodedPak pak;
  std::string why;
  ASSERT_TRUE(testing::DecodePakFile("out.pak", {}, pak, why));
  EXPECT_EQ(pak.entries[pak.data_order[1]].data, "original bytes");
}

INSTANTIATE_TEST_SUITE_P(Inputs, PackFaults, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Plain" : "Queued"; });

}  // namespace
}  // namespace kestrum
