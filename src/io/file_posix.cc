// POSIX implementation of the plain file layer.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "io/file.h"

namespace kestrum {
namespace {

int Fd(const File& file) { return static_cast<int>(file.handle()); }

void AdviseSequentialFd(int fd) {
#ifdef POSIX_FADV_SEQUENTIAL
  (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#else
  (void)fd;
#endif
}

// Repeats a read call, given how many bytes are done, until `size` bytes
// are in or the file ends; interrupted calls are retried. Returns the count,
// or nothing on an error.
template <typename Call>
std::optional<std::size_t> ReadRepeatedly(std::size_t size, Call call) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = call(done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

// The same for writes: false on an error or when no progress can be made
// (a full disk).
template <typename Call>
bool WriteRepeatedly(std::size_t size, Call call) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = call(done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

std::intptr_t File::Release() {
  const std::intptr_t h = handle_;
  handle_ = kInvalid;
  return h;
}

bool File::Close() {
  if (!valid()) return true;
  const int fd = static_cast<int>(Release());
  return ::close(fd) == 0;
}

File OpenRegularForReading(const std::string& path, AccessHint hint, std::uint64_t* length) {
  // O_NONBLOCK so that a FIFO at the path cannot make the open wait for a
  // writer. Reads of regular files ignore it, so it can stay set.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return File();
  File file(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return File();
  // The read-ahead hint pays off only for files that take many reads.
  constexpr off_t kHintWorthwhile = 1 << 20;
  if (hint == AccessHint::kSequential && st.st_size >= kHintWorthwhile) AdviseSequentialFd(fd);
  if (length != nullptr) *length = static_cast<std::uint64_t>(st.st_size);
  return file;
}

std::optional<std::uint64_t> LinkedFileLength(const File& file) {
  struct stat st;
  if (!file.valid() || ::fstat(Fd(file), &st) != 0 || st.st_nlink == 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

void AdviseSequential(const File& file) {
  if (file.valid()) AdviseSequentialFd(Fd(file));
}

std::size_t RaiseOpenFileLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 256;
  // Enough for every file of the largest pakfile at once. Raising the hard
  // limit needs privileges; without them the soft limit goes up to the hard.
  constexpr rlim_t kWanted = 65536 + 256;
  if (limit.rlim_cur < kWanted && limit.rlim_cur != RLIM_INFINITY) {
    struct rlimit raised = {kWanted, std::max(limit.rlim_max, kWanted)};
    if (limit.rlim_max == RLIM_INFINITY) raised.rlim_max = RLIM_INFINITY;
    if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) {
      raised = {limit.rlim_max, limit.rlim_max};
      if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) raised = limit;
    }
    limit = raised;
  }
  constexpr rlim_t kPlenty = 1 << 20;
  return static_cast<std::size_t>(limit.rlim_cur == RLIM_INFINITY ? kPlenty : std::min(limit.rlim_cur, kPlenty));
}

void ReserveOpenFiles(std::size_t count) {
  if (count < 2) return;
  // A descriptor numbered count - 1 grows the table to hold it; the table
  // keeps its size when that descriptor is closed again.
  const int highest = static_cast<int>(std::min<std::size_t>(count - 1, 1 << 20));
  for (int source = 0; source <= 2; ++source) {
    const int fd = ::fcntl(source, F_DUPFD_CLOEXEC, highest);
    if (fd >= 0) {
      ::close(fd);
      return;
    }
  }
  // None of the standard descriptors is open: one made for the purpose.
  const int source = ::open("/", O_RDONLY | O_CLOEXEC | O_DIRECTORY);
  if (source < 0) return;
  const int fd = ::fcntl(source, F_DUPFD_CLOEXEC, highest);
  if (fd >= 0) ::close(fd);
  ::close(source);
}

File OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  return fd < 0 ? File() : File(fd);
}

File CreateExclusive(const std::string& path, AccessHint hint) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return File();
  if (hint == AccessHint::kSequential) AdviseSequentialFd(fd);
  return File(fd);
}

File CreateOrTruncate(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  return fd < 0 ? File() : File(fd);
}

std::optional<std::uint64_t> FileLength(const File& file) {
  struct stat st;
  if (!file.valid() || ::fstat(Fd(file), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::size_t> ReadFully(const File& file, std::span<std::uint8_t> out) {
  return ReadRepeatedly(out.size(),
                        [&](std::size_t done) { return ::read(Fd(file), out.data() + done, out.size() - done); });
}

std::optional<std::size_t> ReadFullyAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> out) {
  return ReadRepeatedly(out.size(), [&](std::size_t done) {
    return ::pread(Fd(file), out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
  });
}

bool WriteFully(const File& file, std::span<const std::uint8_t> data) {
  return WriteRepeatedly(data.size(),
                         [&](std::size_t done) { return ::write(Fd(file), data.data() + done, data.size() - done); });
}

bool WriteFullyAt(const File& file, std::uint64_t offset, std::span<const std::uint8_t> data) {
  return WriteRepeatedly(data.size(), [&](std::size_t done) {
    return ::pwrite(Fd(file), data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
  });
}

namespace {

constexpr long kTmpfsMagic = 0x01021994;

// Whether a file on a memory-backed file system (tmpfs) finds room for
// `length` bytes. Such a file system has nothing to reserve short of the
// pages themselves: reserving them ahead of a 400 MB pakfile held the build
// up for a tenth of a second, its readers waiting for the writer, and cost
// more in all than allocating each page as it is written. There the free
// space is asked instead (a volume without a size limit always has room).
// Nothing when the file is elsewhere.
std::optional<bool> RoomInMemory(int fd, std::uint64_t length) {
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0 || fs.f_type != kTmpfsMagic) return std::nullopt;
  struct stat st;
  if (fs.f_blocks == 0 || fs.f_bsize <= 0 || ::fstat(fd, &st) != 0) return true;
  const auto held = static_cast<std::uint64_t>(st.st_blocks) * 512;
  if (length <= held) return true;
  const auto block = static_cast<std::uint64_t>(fs.f_bsize);
  return (length - held + block - 1) / block <= static_cast<std::uint64_t>(fs.f_bavail);
}

}  // namespace

bool ReserveLength(const File& file, std::uint64_t length) {
  const int fd = Fd(file);
  if (const std::optional<bool> room = RoomInMemory(fd, length)) {
    if (!*room) return false;
  } else if (length > 0 && ::fallocate(fd, 0, 0, static_cast<off_t>(length)) != 0) {
    // ENOSPC and EFBIG are real failures; any other error means the file
    // system cannot reserve space, and the length is set the plain way below.
    if (errno == ENOSPC || errno == EFBIG) return false;
  }
  if (::ftruncate(fd, static_cast<off_t>(length)) != 0) return false;
  const std::optional<std::uint64_t> now = FileLength(file);
  return now && *now == length;
}

File CreateTemporaryBeside(const std::string& target, std::string& temp_path, bool /*overlapped*/) {
  const std::size_t slash = target.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, ".kestrum-%ld-%u.tmp", static_cast<long>(::getpid()), counter++);
    temp_path = dir + name;
    File file = CreateExclusive(temp_path, AccessHint::kSequential);
    if (file) return file;
    if (errno != EEXIST) break;
  }
  temp_path.clear();
  return File();
}

bool SyncData(const File& file) {
  if (!file.valid()) return false;
  for (;;) {
    if (::fdatasync(Fd(file)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool IsSameFile(const File& a, const File& b) {
  struct stat sa, sb;
  if (!a.valid() || !b.valid() || ::fstat(Fd(a), &sa) != 0 || ::fstat(Fd(b), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<std::string> FinalLinkTarget(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st;
    // Nothing there (the output creates it), or not a link: the end.
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    if (hop == kMaxLinkHops) break;
    char text[4096];
    const ssize_t length = ::readlink(at.c_str(), text, sizeof text);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof text) return std::nullopt;
    if (text[0] == '/') {
      at.assign(text, static_cast<std::size_t>(length));
    } else {
      const std::size_t slash = at.find_last_of('/');
      at.erase(slash == std::string::npos ? 0 : slash + 1);
      at.append(text, static_cast<std::size_t>(length));
    }
  }
  return std::nullopt;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectoryLevel(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

}  // namespace kestrum
