// Runs a test suite once per overlapped-transfer back end. The queued back
// end is skipped where the machine cannot set it up.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "io/async_file.h"
#include "support/temp_dir.h"

namespace kestrum::testing {

inline bool QueuedBackendAvailable() {
  static const bool available = [] {
    TempDir dir;
    WriteFile(dir / "probe", "x");
    return BackendOf(OpenAsyncForReading(dir / "probe", 1)) == AsyncBackend::kQueued;
  }();
  return available;
}

class BackendTest : public ::testing::TestWithParam<AsyncBackend> {
 protected:
  void SetUp() override {
    UseImmediateTransfers(GetParam() == AsyncBackend::kImmediate);
    if (GetParam() == AsyncBackend::kQueued && !QueuedBackendAvailable()) {
      GTEST_SKIP() << "no asynchronous I/O service on this machine";
    }
  }
  void TearDown() override { UseImmediateTransfers(false); }
};

inline std::string BackendName(const ::testing::TestParamInfo<AsyncBackend>& info) {
  return info.param == AsyncBackend::kQueued ? "Queued" : "Immediate";
}

#define KESTRUM_INSTANTIATE_FOR_BACKENDS(suite)                                                                      \
  INSTANTIATE_TEST_SUITE_P(Backends, suite,                                                                          \
                           ::testing::Values(::kestrum::AsyncBackend::kQueued, ::kestrum::AsyncBackend::kImmediate), \
                           ::kestrum::testing::BackendName)

}  // namespace kestrum::testing
