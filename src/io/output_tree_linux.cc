// Linux part of OutputTree: every level and file is opened relative to the
// descriptor of its directory, so no path is ever resolved through a link
// below the destination. Directories are held as O_PATH descriptors (enough
// to create in, and they need no read permission).
#include <fcntl.h>
#include <linux/openat2.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "io/output_tree_platform.h"

namespace kestrum {

std::size_t MaxOutputPathLength() { return PATH_MAX - 1; }

namespace output_tree {

struct Root {
  bool has_openat2 = true;  // until the kernel says it has not
};

void RootDeleter::operator()(Root* root) const { delete root; }

namespace {

constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

int Fd(Handle handle) { return static_cast<int>(handle); }

// Why `name` in `parent` could not be opened as a directory level.
OutputStatus WhyNotADirectory(Handle parent, const std::string& name, int error) {
  if (error != ENOTDIR && error != ELOOP) return OutputStatus::kCannotCreate;
  struct stat st;
  if (::fstatat(Fd(parent), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return OutputStatus::kLinkInPath;
  }
  return OutputStatus::kNotADirectory;
}

// mkdirat; true when made, or when something is there already.
bool MakeLevel(Handle parent, const std::string& name, bool& made) {
  made = ::mkdirat(Fd(parent), name.c_str(), 0777) == 0;
  return made || errno == EEXIST;
}

}  // namespace

std::string_view Separators() { return "/"; }
char JoinSeparator() { return '/'; }

OutputStatus OpenRoot(const std::string& destination, RootPtr& root, Handle& handle, bool& fresh) {
  // Followed as given: the destination itself may be a link.
  int fd = ::open(destination.c_str(), kDirectoryFlags);
  fresh = false;
  if (fd < 0 && errno == ENOENT) {
    for (std::size_t at = destination.find('/', 1); at != std::string::npos; at = destination.find('/', at + 1)) {
      (void)::mkdir(destination.substr(0, at).c_str(), 0777);
    }
    (void)::mkdir(destination.c_str(), 0777);
    fd = ::open(destination.c_str(), kDirectoryFlags);
    fresh = fd >= 0;
  }
  if (fd < 0) return OutputStatus::kNoDestination;
  root.reset(new Root);
  handle = fd;
  return OutputStatus::kOk;
}

OutputStatus OpenLevel(Root&, Handle parent, std::string_view, const std::string& name, bool create_first,
                       Handle& handle, bool& fresh) {
  fresh = false;
  if (create_first && !MakeLevel(parent, name, fresh)) return OutputStatus::kCannotCreate;
  // O_NOFOLLOW: a link here is not opened but refused.
  int fd = ::openat(Fd(parent), name.c_str(), kDirectoryFlags | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT && !create_first) {
    if (!MakeLevel(parent, name, fresh)) return OutputStatus::kCannotCreate;
    fd = ::openat(Fd(parent), name.c_str(), kDirectoryFlags | O_NOFOLLOW);
  }
  if (fd < 0) return WhyNotADirectory(parent, name, errno);
  handle = fd;
  return OutputStatus::kOk;
}

bool OpenExistingBeneath(Root& root, Handle parent, std::string_view, const std::string& relative, Handle& handle) {
  if (!root.has_openat2) return false;
  open_how how{};
  how.flags = kDirectoryFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  const long fd = ::syscall(SYS_openat2, Fd(parent), relative.c_str(), &how, sizeof how);
  if (fd < 0) {
    // Kernels before 5.6, or a sandbox that hides the call.
    if (errno == ENOSYS || errno == EPERM) root.has_openat2 = false;
    return false;
  }
  handle = fd;
  return true;
}

OutputStatus CreateFileIn(Root&, Handle directory, std::string_view, const std::string& name, bool replace,
                          File& file) {
  // O_EXCL creates a new inode or fails, whatever is there (a link is not
  // followed, a FIFO or device is not opened). Only then is the old name
  // removed and the creation tried again; a fresh tree never pays for that.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int fd = ::openat(Fd(directory), name.c_str(), kFlags, 0666);
    if (fd >= 0) {
      file = File(fd);
      return OutputStatus::kOk;
    }
    if (errno != EEXIST) return OutputStatus::kCannotCreate;
    if (!replace) return OutputStatus::kExists;
    // A directory refuses (EISDIR); a name gone meanwhile is fine.
    if (::unlinkat(Fd(directory), name.c_str(), 0) != 0 && errno != ENOENT) return OutputStatus::kCannotCreate;
  }
  return OutputStatus::kCannotCreate;
}

bool RemoveFileIn(Root&, Handle directory, std::string_view, const std::string& name) {
  return ::unlinkat(Fd(directory), name.c_str(), 0) == 0;
}

bool RemoveLevelIn(Root&, Handle directory, std::string_view, const std::string& name) {
  return ::unlinkat(Fd(directory), name.c_str(), AT_REMOVEDIR) == 0;
}

void CloseDirectory(Handle handle) {
  if (handle != kNoHandle) ::close(Fd(handle));
}

std::size_t DirectoryCapacity() {
  // Room for the directories of a large tree visited in any order, while
  // leaving most descriptors to everything else.
  constexpr std::size_t kMost = 4096;
  constexpr std::size_t kLeast = 64;
  return std::clamp(RaiseOpenFileLimit() / 2, kLeast, kMost);
}

std::size_t CreatorThreads() {
  // Creating touches only the directory's descriptor and the caller's name.
  // A process held to one processor gains nothing from a second thread.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return CPU_COUNT(&set) > 1 ? 2 : 1;
}

}  // namespace output_tree
}  // namespace kestrum
