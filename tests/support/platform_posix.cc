#include <fcntl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/platform.h"

namespace kestrum::testing {
namespace {

// Runs its action when the last owner lets go.
struct OnRelease {
  explicit OnRelease(std::function<void()> on_release) : action(std::move(on_release)) {}
  OnRelease(const OnRelease&) = delete;
  OnRelease& operator=(const OnRelease&) = delete;
  ~OnRelease() { action(); }
  std::function<void()> action;
};

}  // namespace

std::FILE* ScratchStream() {
  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) throw std::runtime_error("no scratch stream");
  return stream;
}

std::string DevicePath() { return "/dev/null"; }

bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

File OpenDirectoryHandle(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? File() : File(fd);
}

bool MakePipe(File& read_end, File& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end = File(fds[0]);
  write_end = File(fds[1]);
  return true;
}

std::shared_ptr<void> LockOutReaders(const std::string& path) {
  if (::geteuid() == 0) return nullptr;
  if (::chmod(path.c_str(), 0) != 0) return nullptr;
  return std::make_shared<OnRelease>([path] { ::chmod(path.c_str(), 0600); });
}

std::shared_ptr<void> MountSmallVolume(const std::string& path, unsigned kib) {
  const std::string options = "size=" + std::to_string(kib) + "k";
  if (::geteuid() != 0 || ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) return nullptr;
  return std::make_shared<OnRelease>([path] { ::umount(path.c_str()); });
}

std::shared_ptr<void> LimitFileSize(std::uint64_t bytes) {
  struct rlimit saved;
  if (::getrlimit(RLIMIT_FSIZE, &saved) != 0) return nullptr;
  struct rlimit limited = saved;
  limited.rlim_cur = static_cast<rlim_t>(bytes);
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  if (::setrlimit(RLIMIT_FSIZE, &limited) != 0) {
    ::signal(SIGXFSZ, previous);
    return nullptr;
  }
  return std::make_shared<OnRelease>([saved, previous] {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
  });
}

bool EvictFromPageCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool evicted = ::fstat(fd, &st) == 0 && st.st_size > 0 && ::fdatasync(fd) == 0 &&
                 ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  if (evicted) {
    // Ask which pages are still in memory.
    const auto size = static_cast<std::size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + page - 1) / page);
    evicted = map != MAP_FAILED && ::mincore(map, size, resident.data()) == 0;
    for (const unsigned char r : resident) evicted = evicted && (r & 1) == 0;
    if (map != MAP_FAILED) ::munmap(map, size);
  }
  ::close(fd);
  return evicted;
}

bool OpenFilesCanBeChanged() { return true; }

bool RunningUnderWine() { return false; }

std::optional<unsigned> PermissionBits(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_mode & 0777;
}

std::optional<unsigned> UsualNewFilePermissions() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace kestrum::testing
