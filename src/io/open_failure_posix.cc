#include <sys/stat.h>

#include <cerrno>

#include "io/open_failure.h"

namespace kestrum {

OpenFailure DescribeOpenFailure(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? OpenFailure::kMissing
                                                                        : OpenFailure::kUnreadable;
  }
  return S_ISREG(info.st_mode) ? OpenFailure::kUnreadable : OpenFailure::kNotRegular;
}

}  // namespace kestrum
