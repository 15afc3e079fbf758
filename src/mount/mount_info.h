// Finding a mount in the kernel's table of mounts (/proc/self/mountinfo), by
// where it is mounted and its file system type, without touching the mount
// itself (a file system that is not yet serving requests cannot answer a
// stat of its own mount point).
#pragma once

#include <string>
#include <string_view>

namespace kestrum {

// The device ("major:minor") of the last mount in the table at `mountpoint`
// (an absolute path without symbolic links, as the kernel shows it) whose
// type is `type`: the last is the topmost, the one just mounted. Empty when
// there is none.
std::string MountDeviceOf(std::string_view mountinfo, std::string_view mountpoint, std::string_view type);

}  // namespace kestrum
