#include "io/output_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>

#include "io/host_path.h"
#include "io/io_test_support.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::TempDir;

// Places and creates the file at `relative` below the tree and writes its
// own path into it.
OutputStatus Put(OutputTree& tree, const std::string& relative) {
  OutputPlace place;
  OutputStatus status = tree.Place(relative, place);
  File file;
  if (status == OutputStatus::kOk) status = tree.Create(place, file);
  if (status == OutputStatus::kOk) {
    EXPECT_TRUE(WriteFully(file, std::span(reinterpret_cast<const std::uint8_t*>(relative.data()), relative.size())));
  }
  return status;
}

// More directories than are kept open, visited round and round: every file
// lands in its own directory, and no descriptor is left behind.
TEST(OutputTree, ManyDirectoriesInAnyOrderWithFewKeptOpen) {
  TempDir dir;
  const std::size_t before = testing::OpenDescriptors();
  {
    OutputTree tree(dir / "out/new", 4);
    for (int round = 0; round < 3; ++round) {
      for (int d = 0; d < 12; ++d) {
        const std::string at = "a" + std::to_string(d % 3) + "/b" + std::to_string(d) + "/f" + std::to_string(round);
        ASSERT_EQ(Put(tree, at), OutputStatus::kOk) << at;
      }
      if (before > 0) {
        EXPECT_LE(testing::OpenDescriptors(), before + 4);
      }
    }
  }
  EXPECT_EQ(testing::OpenDescriptors(), before);
  for (int round = 0; round < 3; ++round) {
    for (int d = 0; d < 12; ++d) {
      const std::string at = "a" + std::to_string(d % 3) + "/b" + std::to_string(d) + "/f" + std::to_string(round);
      EXPECT_EQ(ReadFileBytes(dir / "out/new/" + at), at);
    }
  }
}

// A directory to be made ahead of files still to be created is refused
// when one of its levels may be one of those files (names alike but for
// case) or when keeping it open would close another; once made, it is
// removed again back to a mark, and made once more when asked.
TEST(OutputTree, DirectoriesMadeAheadAreCheckedAndRemovedBackToAMark) {
  TempDir dir;
  OutputTree tree(dir / "out", 4);
  ASSERT_EQ(Put(tree, "keep/a"), OutputStatus::kOk);
  const std::uint32_t pending[] = {FoldedNameHash("Clash")};
  EXPECT_FALSE(tree.CanPlaceAhead("clash/x", pending));
  EXPECT_FALSE(tree.CanPlaceAhead("new/CLASH/x", pending));
  EXPECT_TRUE(tree.CanPlaceAhead("new/x", pending));
  EXPECT_FALSE(tree.CanPlaceAhead("p/q/r/x", pending));  // five levels open, four kept
  tree.ForgetMade();
  OutputPlace place;
  ASSERT_EQ(tree.Place("new/deeper/x", place), OutputStatus::kOk);
  EXPECT_EQ(tree.MadeCount(), 2u);
  tree.RemoveMadeSince(0);
  EXPECT_FALSE(fs::exists(dir / "out/new"));
  EXPECT_EQ(ReadFileBytes(dir / "out/keep/a"), "keep/a");
  ASSERT_EQ(Put(tree, "new/deeper/again"), OutputStatus::kOk);
  EXPECT_EQ(ReadFileBytes(dir / "out/new/deeper/again"), "new/deeper/again");
}

// The directory found last is tried first; once its slot has gone to
// another directory (one kept open at a time here), a file for it must not
// land in the newcomer, however alike their names.
TEST(OutputTree, ASlotTakenOverIsNotTakenForTheDirectoryItHeld) {
  TempDir dir;
  OutputTree tree(dir / "out", 2);
  for (const char* at : {"d1/x", "d1/y", "d2/z", "d1/w"}) ASSERT_EQ(Put(tree, at), OutputStatus::kOk) << at;
  EXPECT_EQ(ReadFileBytes(dir / "out/d2/z"), "d2/z");
  EXPECT_EQ(ReadFileBytes(dir / "out/d1/w"), "d1/w");
  EXPECT_FALSE(fs::exists(dir / "out/d1/z"));
  EXPECT_FALSE(fs::exists(dir / "out/d2/w"));
}

}  // namespace
}  // namespace kestrum
