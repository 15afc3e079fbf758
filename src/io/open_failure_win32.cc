#include <windows.h>

#include "io/open_failure.h"

namespace kestrum {

OpenFailure DescribeOpenFailure(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
                   error == ERROR_BAD_NETPATH || error == ERROR_FILENAME_EXCED_RANGE
               ? OpenFailure::kMissing
               : OpenFailure::kUnreadable;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ? OpenFailure::kNotRegular
                                                                                : OpenFailure::kUnreadable;
}

}  // namespace kestrum
