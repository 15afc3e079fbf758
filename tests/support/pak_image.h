// Builds complete pakfile images in memory with the real builder code, for
// tests that need pakfiles without going through files and the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/locale_key.h"

namespace kestrum::testing {

struct TestFile {
  std::string path;  // as a list file line would name it (any case, either slash)
  std::string data;
  bool masked = true;  // false: stored verbatim, as a '*' line
};

// The whole pakfile, padded to its file_size with zero bytes. Files with an
// empty path are left out, as the writer does.
std::vector<std::uint8_t> MakePakImage(const std::vector<TestFile>& files, const LocaleKey& key = {});

}  // namespace kestrum::testing
