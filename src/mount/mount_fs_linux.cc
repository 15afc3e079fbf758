#include "mount_fs_linux.h"

#define FUSE_USE_VERSION 34
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <kestrum/pak_reader.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>

#include "read_ahead_linux.h"

namespace kestrum {
namespace {

// Nothing in a mounted pakfile ever changes, so the kernel may keep names,
// attributes and missing names as long as it likes.
constexpr double kCacheSeconds = 86400.0;
// What stat() reports as the best transfer size: programs that read a file
// whole (cat, cp) then ask for large pieces.
constexpr blksize_t kPreferredTransfer = blksize_t{128} * 1024;

const MountFileSystem& Fs(fuse_req_t req) { return *static_cast<const MountFileSystem*>(fuse_req_userdata(req)); }

// The node behind an inode number, or null for a number that is none.
const MountNode* NodeOf(const MountFileSystem& fs, fuse_ino_t ino) {
  if (ino == 0 || ino > fs.tree.nodes.size()) return nullptr;
  return &fs.tree.nodes[ino - 1];
}

struct stat AttributesOf(const MountFileSystem& fs, std::uint32_t index) {
  const MountNode& node = fs.tree.nodes[index];
  struct stat st {};
  st.st_ino = index + 1;
  st.st_uid = fs.uid;
  st.st_gid = fs.gid;
  st.st_blksize = kPreferredTransfer;
  if (node.directory) {
    st.st_mode = S_IFDIR | 0555;
    st.st_nlink = 2 + node.subdirectories;
    st.st_mtim = fs.directory_mtime;
  } else {
    st.st_mode = S_IFREG | 0444;
    st.st_nlink = 1;
    st.st_size = node.size;
    st.st_blocks = (static_cast<blkcnt_t>(node.size) + 511) / 512;
    st.st_mtim = fs.sources[node.source].mtime;
  }
  st.st_atim = st.st_mtim;
  st.st_ctim = st.st_mtim;
  return st;
}

fuse_entry_param EntryOf(const MountFileSystem& fs, std::uint32_t index) {
  fuse_entry_param entry{};
  entry.ino = index + 1;
  entry.generation = 1;
  entry.attr = AttributesOf(fs, index);
  entry.attr_timeout = kCacheSeconds;
  entry.entry_timeout = kCacheSeconds;
  return entry;
}

void Init(void* userdata, fuse_conn_info* conn) {
  auto& fs = *static_cast<MountFileSystem*>(userdata);
  // Directory listings without attributes: find and ls, which need only
  // names and types, then cost the kernel no inode per entry (measured: find
  // over 60,000 files takes twice as long with them), and reading every file
  // costs one lookup more per file, answered from the tree.
  conn->want &= ~(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
  // The kernel takes the smaller of this and the read-ahead the mount has
  // when this answer arrives: RaiseReadAhead has set that already, where it
  // could, before the session started.
  conn->max_readahead = kReadAheadKib * 1024;
  // Opening and closing need no word from here: there is no state per open
  // file, and the "ro" mount refuses opens for writing before they come
  // here. Where the kernel can do without, the first open is answered with
  // ENOSYS, and the kernel then skips the open and release requests of every
  // file (directory) from there on, keeping its cache across opens.
  fs.kernel_opens_files = (conn->capable & FUSE_CAP_NO_OPEN_SUPPORT) != 0;
  fs.kernel_opens_directories = (conn->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0;
}

void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  const MountFileSystem& fs = Fs(req);
  const MountNode* node = NodeOf(fs, ino);
  if (node == nullptr) {
    fuse_reply_err(req, ENOENT);
  } else if (node->directory) {
    fuse_reply_err(req, EISDIR);
  } else if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0) {
    fuse_reply_err(req, EROFS);
  } else if (fs.kernel_opens_files) {
    fuse_reply_err(req, ENOSYS);
  } else {
    // The bytes never change: what the kernel has cached stays valid.
    fi->keep_cache = 1;
    fi->noflush = 1;
    fuse_reply_open(req, fi);
  }
}

void OpenDirectory(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  const MountFileSystem& fs = Fs(req);
  const MountNode* node = NodeOf(fs, ino);
  if (node == nullptr || !node->directory) {
    fuse_reply_err(req, node == nullptr ? ENOENT : ENOTDIR);
  } else if (fs.kernel_opens_directories) {
    fuse_reply_err(req, ENOSYS);
  } else {
    fi->cache_readdir = 1;
    fi->keep_cache = 1;
    fuse_reply_open(req, fi);
  }
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  const MountFileSystem& fs = Fs(req);
  const MountNode* dir = NodeOf(fs, parent);
  if (dir == nullptr || !dir->directory) {
    fuse_reply_err(req, ENOTDIR);
    return;
  }
  const std::optional<std::uint32_t> child = FindChild(fs.tree, static_cast<std::uint32_t>(parent - 1), name);
  if (!child) {
    // A missing name, remembered by the kernel as long as a present one.
    fuse_entry_param none{};
    none.entry_timeout = kCacheSeconds;
    fuse_reply_entry(req, &none);
    return;
  }
  const fuse_entry_param entry = EntryOf(fs, *child);
  fuse_reply_entry(req, &entry);
}

void GetAttributes(fuse_req_t req, fuse_ino_t ino, fuse_file_info* /*fi*/) {
  const MountFileSystem& fs = Fs(req);
  if (NodeOf(fs, ino) == nullptr) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  const struct stat st = AttributesOf(fs, static_cast<std::uint32_t>(ino - 1));
  fuse_reply_attr(req, &st, kCacheSeconds);
}

void Read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* /*fi*/) {
  const MountFileSystem& fs = Fs(req);
  const MountNode* node = NodeOf(fs, ino);
  if (node == nullptr || node->directory || offset < 0) {
    fuse_reply_err(req, node != nullptr && node->directory ? EISDIR : EINVAL);
    return;
  }
  // A handle of its own for every read, naming the file's record directly:
  // the runtime wants one thread per handle at a time, FUSE reads on several
  // threads at once, and the record is the copy the tree shows even where
  // the same path is stored twice.
  const OpenedPak& pak = fs.sources[node->source].pak;
  PakFileHandle handle;
  handle.pak_index = pak.position;
  handle.pak_id = pak.id;
  handle.entry = static_cast<std::int32_t>(node->record);
  thread_local std::vector<std::uint8_t> buffer;
  const std::uint32_t count = static_cast<std::uint32_t>(std::min<size_t>(size, 0x7FFFFFFF));
  if (buffer.size() < count) buffer.resize(count);
  const PakReadResult result = PakFileReadAt(&handle, static_cast<std::uint64_t>(offset), buffer.data(), count);
  if (result.error != PakError::kNone) {
    fuse_reply_err(req, EIO);
    return;
  }
  fuse_reply_buf(req, reinterpret_cast<const char*>(buffer.data()), result.bytes);
}

// Entries "." and ".." and then the children in name order; entry k comes
// at offset k, and the offset handed back with each is that of the next.
void ReadDirectory(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* /*fi*/) {
  const MountFileSystem& fs = Fs(req);
  const MountNode* dir = NodeOf(fs, ino);
  if (dir == nullptr || !dir->directory || offset < 0) {
    fuse_reply_err(req, dir == nullptr ? ENOENT : dir->directory ? EINVAL : ENOTDIR);
    return;
  }
  thread_local std::vector<char> buffer;
  if (buffer.size() < size) buffer.resize(size);
  std::size_t used = 0;
  const std::uint64_t entries = 2 + std::uint64_t{dir->child_count};
  for (auto k = static_cast<std::uint64_t>(offset); k < entries; ++k) {
    std::uint32_t index;
    const char* name;
    if (k < 2) {
      index = k == 0 ? static_cast<std::uint32_t>(ino - 1) : dir->parent;
      name = k == 0 ? "." : "..";
    } else {
      index = fs.tree.children[dir->first_child + (k - 2)];
      name = fs.tree.names.c_str() + fs.tree.nodes[index].name_begin;
    }
    const auto next = static_cast<off_t>(k + 1);
    const struct stat st = AttributesOf(fs, index);
    const std::size_t needed = fuse_add_direntry(req, buffer.data() + used, size - used, name, &st, next);
    if (needed > size - used) break;
    used += needed;
  }
  fuse_reply_buf(req, buffer.data(), used);
}

void StatFileSystem(fuse_req_t req, fuse_ino_t /*ino*/) {
  const MountFileSystem& fs = Fs(req);
  constexpr unsigned long kBlock = 4096;
  struct statvfs st {};
  st.f_bsize = kBlock;
  st.f_frsize = kBlock;
  for (const MountSource& source : fs.sources) st.f_blocks += (source.bytes + kBlock - 1) / kBlock;
  st.f_files = fs.tree.nodes.size();
  st.f_namemax = 255;
  st.f_flag = ST_RDONLY;
  fuse_reply_statfs(req, &st);
}

void ReadOnly(fuse_req_t req) { fuse_reply_err(req, EROFS); }

fuse_lowlevel_ops MakeOperations() {
  fuse_lowlevel_ops ops{};
  ops.init = Init;
  ops.lookup = Lookup;
  ops.getattr = GetAttributes;
  ops.open = Open;
  ops.opendir = OpenDirectory;
  ops.read = Read;
  ops.readdir = ReadDirectory;
  ops.statfs = StatFileSystem;
  // Everything that would change the tree or a file.
  ops.setattr = [](fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*) { ReadOnly(req); };
  ops.mknod = [](fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) { ReadOnly(req); };
  ops.mkdir = [](fuse_req_t req, fuse_ino_t, const char*, mode_t) { ReadOnly(req); };
  ops.unlink = [](fuse_req_t req, fuse_ino_t, const char*) { ReadOnly(req); };
  ops.rmdir = [](fuse_req_t req, fuse_ino_t, const char*) { ReadOnly(req); };
  ops.symlink = [](fuse_req_t req, const char*, fuse_ino_t, const char*) { ReadOnly(req); };
  ops.rename = [](fuse_req_t req, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned int) { ReadOnly(req); };
  ops.link = [](fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { ReadOnly(req); };
  ops.write = [](fuse_req_t req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) { ReadOnly(req); };
  ops.create = [](fuse_req_t req, fuse_ino_t, const char*, mode_t, fuse_file_info*) { ReadOnly(req); };
  ops.setxattr = [](fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) { ReadOnly(req); };
  ops.removexattr = [](fuse_req_t req, fuse_ino_t, const char*) { ReadOnly(req); };
  ops.fallocate = [](fuse_req_t req, fuse_ino_t, int, off_t, off_t, fuse_file_info*) { ReadOnly(req); };
  ops.copy_file_range = [](fuse_req_t req, fuse_ino_t, off_t, fuse_file_info*, fuse_ino_t, off_t, fuse_file_info*,
                           size_t, int) { ReadOnly(req); };
  return ops;
}

}  // namespace

fuse_session* NewMountSession(MountFileSystem& fs, const std::vector<std::string>& fuse_options) {
  std::vector<std::string> args{"kestrum-mount"};
  for (const std::string& option : fuse_options) {
    args.emplace_back("-o");
    args.push_back(option);
  }
  // Last, so that no option of the caller's ("rw") undoes them.
  args.emplace_back("-o");
  args.emplace_back("ro,default_permissions,fsname=kestrum,subtype=kestrum");
  std::vector<char*> argv;
  argv.reserve(args.size());
  for (std::string& arg : args) argv.push_back(arg.data());
  fuse_args parsed = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  static const fuse_lowlevel_ops kOperations = MakeOperations();
  fuse_session* session = fuse_session_new(&parsed, &kOperations, sizeof kOperations, &fs);
  fuse_opt_free_args(&parsed);
  return session;
}

}  // namespace kestrum
