// Opening files for overlapped transfers; the same on every platform.
#include "io/async_file.h"

namespace kestrum {

AsyncFile OpenAsyncForReading(const std::string& path, int channels) {
  return MakeAsyncFile(OpenRegularForReading(path, AccessHint::kSequential), channels);
}

AsyncFile CreateAsyncForWriting(const std::string& path, int channels) {
  return MakeAsyncFile(CreateOrTruncate(path), channels);
}

}  // namespace kestrum
