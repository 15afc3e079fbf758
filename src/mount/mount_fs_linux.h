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

// Each pakfile is opened twice. A read that the runtime's read buffers do
// not hold fills a whole buffer, and reads the next one ahead: 64 KiB
// buffers suit large files, but then a small file read on its own (as tar or
// cat read a tree, in name order, not in data order) costs 128 KiB of
// reading and unmasking. Files below kSmallFile, which lie in one or two
// 4 KiB blocks, are read through an open with 4 KiB buffers instead (on
// 60,000 files of up to 200 bytes, tar through the mount took half the
// CPU time that way).
inline constexpr std::uint32_t kLargeBlockKib = 64;
inline constexpr std::uint32_t kSmallBlockKib = 4;
inline constexpr std::uint32_t kSmallFile = 4 * 1024;

struct MountSource {
  OpenedPak pak;            // kLargeBlockKib buffers
  OpenedPak small_files;    // the same pakfile with kSmallBlockKib buffers
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
