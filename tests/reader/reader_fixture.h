// Shared setup for the reader runtime tests: pakfiles written to a scratch
// directory, and every pakfile closed and the locale key reset afterwards.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/locale_key.h"
#include "format/mask.h"
#include "io/async_file.h"
#include "io/backend_param.h"
#include "reader/pak_reader.h"
#include "support/pak_image.h"
#include "support/temp_dir.h"

namespace kestrum::testing {

class ReaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    PakCloseAll();
    CurrentLocaleKey() = LocaleKey{};
    UseImmediateTransfers(false);
  }

  std::string WritePak(const std::string& name, const std::vector<std::uint8_t>& image) {
    const std::string path = dir_ / name;
    WriteFile(path, std::string(image.begin(), image.end()));
    return path;
  }
  std::string WritePak(const std::string& name, const std::vector<TestFile>& files, const LocaleKey& key = {}) {
    return WritePak(name, MakePakImage(files, key));
  }

  TempDir dir_;
};

// The same, run once per overlapped-transfer back end (the queued one is
// skipped where the machine cannot set it up); injected read failures end
// with the test.
class BackendReaderTest : public ReaderTest, public ::testing::WithParamInterface<AsyncBackend> {
 protected:
  void SetUp() override {
    UseImmediateTransfers(GetParam() == AsyncBackend::kImmediate);
    if (GetParam() == AsyncBackend::kQueued && !QueuedBackendAvailable()) {
      GTEST_SKIP() << "no asynchronous I/O service on this machine";
    }
  }
  void TearDown() override {
    InjectReadFailuresForTesting(0);
    ReaderTest::TearDown();
  }
};

// What reading a file delivers: the stored bytes with the data mask removed,
// so a file stored without the mask comes out masked.
inline std::string ExpectedRead(const TestFile& file) {
  if (file.masked) return file.data;
  std::string bytes = file.data;
  MaskData(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
  return bytes;
}

// Reads a whole file inside the open pakfiles in pieces of `piece` bytes.
// Stops at the first short piece. Null handle: "<missing>".
inline std::string ReadWhole(std::string_view path, std::uint32_t piece = 262144) {
  PakFileHandle* handle = PakFileOpen(path);
  if (handle == nullptr) return "<missing>";
  std::string out;
  std::string buffer(piece, '\0');
  for (;;) {
    const std::int32_t got = PakFileRead(handle, buffer.data(), piece);
    if (got > 0) out.append(buffer, 0, static_cast<std::size_t>(got));
    if (got != static_cast<std::int32_t>(piece)) break;
  }
  PakFileClose(handle);
  return out;
}

// Compares file contents without printing them all: on a mismatch it tells
// the sizes and where the bytes first differ.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  const auto differ = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  return ::testing::AssertionFailure() << got.size() << " bytes where " << want.size()
                                       << " were expected, first different at " << (differ.first - got.begin());
}

// Bytes that differ from file to file and from block to block.
inline std::string Content(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

}  // namespace kestrum::testing
