#include "read_ahead_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "mount_info.h"

namespace kestrum {
namespace {

// The whole of a small file of the kernel's, or empty.
std::string ReadWhole(const char* path) {
  std::string text;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char chunk[8192];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  return text;
}

}  // namespace

void RaiseReadAhead(const std::string& mountpoint) {
  const std::string device = MountDeviceOf(ReadWhole("/proc/self/mountinfo"), mountpoint, "fuse.kestrum");
  if (device.empty()) return;
  const std::string knob = "/sys/class/bdi/" + device + "/read_ahead_kb";
  if (std::strtoul(ReadWhole(knob.c_str()).c_str(), nullptr, 10) >= kReadAheadKib) return;
  const int fd = open(knob.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  const std::string value = std::to_string(kReadAheadKib) + "\n";
  // A failed write leaves the kernel's own read-ahead, which works as well.
  if (write(fd, value.data(), value.size()) < 0) {
  }
  close(fd);
}

}  // namespace kestrum
