#include "io/create_group.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "io/batch_mode.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using Outcome = CreateGroup::Outcome;

// One group on one thread and, where the machine allows, on two: every
// file's outcome is where it was added, an older file is left to the caller
// untouched, a name given twice is made once (the second finds the first),
// and a name the system refuses fails alone.
TEST(CreateGroup, OutcomesInTheOrderAddedWhateverTheThreads) {
  for (const bool plain : {true, false}) {
    SCOPED_TRACE(plain ? "one thread" : "shared");
    ForcePlainBatchesForTesting(plain);
    testing::TempDir dir;
    testing::WriteFile(dir / "out/f50", "older");
    OutputTree tree(dir / "out");
    CreateGroup group(tree, 256);
    std::vector<std::string> paths, contents;
    for (int i = 0; i < 200; ++i) {
      paths.push_back(i == 120 ? "f100" : i == 150 ? std::string(300, 'n') : "f" + std::to_string(i));
      contents.push_back(std::string(static_cast<std::size_t>(i % 7) * 100, static_cast<char>('a' + i % 26)));
    }
    // The places' names point into `paths`, which stays as it is meanwhile.
    for (int i = 0; i < 200; ++i) {
      OutputPlace place;
      ASSERT_EQ(tree.Place(paths[i], place), OutputStatus::kOk);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(contents[i].data());
      group.Add(place, {bytes, contents[i].size()});
    }
    const std::span<const Outcome> run = group.Run();
    const std::vector<Outcome> outcomes(run.begin(), run.end());
    ASSERT_EQ(outcomes.size(), 200u);
    for (int i = 0; i < 200; ++i) {
      const Outcome expected = i == 50 || i == 120 ? Outcome::kExists
                               : i == 150          ? Outcome::kCannotCreate
                                                   : Outcome::kDone;
      EXPECT_EQ(outcomes[i], expected) << i;
      if (expected == Outcome::kDone) {
        EXPECT_EQ(testing::ReadFileBytes(dir / ("out/" + paths[i])), contents[i]) << i;
      }
    }
    EXPECT_EQ(testing::ReadFileBytes(dir / "out/f50"), "older");
    ForcePlainBatchesForTesting(false);
  }
}

}  // namespace
}  // namespace kestrum
