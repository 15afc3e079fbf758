// The kernel's read-ahead for a FUSE mount: 128 KiB unless raised, which makes
// a large file arrive in requests of 128 KiB. Raised to 1 MiB, a file read in
// order arrives in 1 MiB requests (the largest the kernel sends to libfuse),
// an eighth as many.
#pragma once

#include <string>

namespace kestrum {

inline constexpr unsigned kReadAheadKib = 1024;

// Raises the read-ahead of the FUSE mount of type "fuse.kestrum" at
// `mountpoint` (an absolute path without symbolic links) to kReadAheadKib,
// through /sys/class/bdi, where this process may write there (as root).
// Otherwise, or where it is higher already, leaves it as it is.
void RaiseReadAhead(const std::string& mountpoint);

}  // namespace kestrum
