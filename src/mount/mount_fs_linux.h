// The mounted file system: FUSE's low-level interface over a MountTree and
// the open pakfiles. Inode n + 1 is tree node n (the root is FUSE's inode 1).
// Read-only: every call that would change something fails with EROFS, and
// the kernel is told so too (the "ro" mount option).
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "mount_tree.h"
#include "pak_sources.h"

struct fuse_session;

namespace kestrum {

// Each pakfile is opened once, with the smallest read buffers the runtime
// takes (4 KiB). The kernel asks for whole pages (at least 4 KiB unless the
// file ends first) and caches and reads ahead on its own, so the runtime
// never takes such a read for a small piece worth a buffer: a read is one
// positional read of exactly the asked bytes into the reply, with no lock
// (unless the buffers happen to hold its first byte, as they may hold the
// pakfile's first blocks after its header was loaded).
inline constexpr std::uint32_t kBlockKib = 4;

struct MountSource {
  OpenedPak pak;
  timespec mtime{};         // the pakfile's modification time
  std::uint64_t bytes = 0;  // its size on disk
};

struct MountFileSystem {
  MountTree tree;
  std::vector<MountSource> sources;  // in the order given, as the tree's `source` counts them
  timespec directory_mtime{};        // the newest of the pakfiles
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  // Set when the session starts, if the kernel can open files and
  // directories of this mount without asking (then it is never asked).
  std::atomic<bool> kernel_opens_files{false};
  std::atomic<bool> kernel_opens_directories{false};
};

// A FUSE session over the file system, with the caller's mount options
// (each an -o value) and Kestrum's own ("ro", ...). Null, after libfuse has
// printed why, when the options are not accepted. `fs` must outlive it.
fuse_session* NewMountSession(MountFileSystem& fs, const std::vector<std::string>& fuse_options);

}  // namespace kestrum
