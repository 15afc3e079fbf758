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
