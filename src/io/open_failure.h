// Why a file could not be opened for reading, asked after the open failed:
// the runtime turns it into the reason it reports to its callers.
#pragma once

#include <string>

namespace kestrum {

enum class OpenFailure {
  kMissing,     // nothing at the path (or a component of it is not a directory)
  kNotRegular,  // something is there, but not a regular file: a directory, a device, a FIFO
  kUnreadable,  // a regular file (or a path) that the system does not let us read
};

// Looks at the path as it stands now. One implementation file per platform.
OpenFailure DescribeOpenFailure(const std::string& path);

}  // namespace kestrum
