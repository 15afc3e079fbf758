// What several io tests share: counting this process's open descriptors, and
// a fixture that runs a suite once through the queued service (where the
// system has one) and once through plain calls.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <system_error>

#include "io/batch_mode.h"
#include "io/host_path.h"

namespace kestrum::testing {

// Open descriptors of this process; 0 where the system does not show them
// (under Wine, /proc is the host's, counting Wine's own descriptors).
inline std::size_t OpenDescriptors() {
  if (HostPathStyle() != PathStyle::kPosix) return 0;
  std::error_code ec;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++count;
  return count;
}

// GetParam(): true for the queued service, false for plain calls.
class BatchServiceTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ForcePlainBatchesForTesting(!GetParam()); }
  void TearDown() override { ForcePlainBatchesForTesting(false); }
};

}  // namespace kestrum::testing
