// A fixture that runs each test inside its own scratch directory, as the
// tool runs in its current directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace kestrum::testing {

class InScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override {
    if (!saved_.empty()) std::filesystem::current_path(saved_);
  }

  // After a failed build: the earlier "out.pak" is untouched and no
  // temporary (dot) file is left beside it.
  static void ExpectNothingLeft() {
    EXPECT_EQ(ReadFileBytes("out.pak"), "earlier pakfile");
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      EXPECT_NE(entry.path().filename().string()[0], '.') << "temporary file left: " << entry.path();
    }
  }

  TempDir dir_;
  std::filesystem::path saved_;  // empty when SetUp was skipped before it changed directory
};

}  // namespace kestrum::testing
