// The least work the kernel is asked to do for building and for unpacking a
// list of files, with nothing else around it: what any archiver pays, and
// where the time of a fast one goes. One thread; prints the seconds of the
// timed part alone.
//
//   kestrum_floor_bench create LIST TREE DEST
//     Untimed: reads LIST and the sizes of its files under TREE. Timed: makes
//     each file new under DEST (its directories made when the file cannot
//     be made for want of them) and writes its bytes from memory; no
//     archive is read.
//   kestrum_floor_bench read LIST OUTPUT
//     Timed: measures, opens, reads and closes each listed file (relative
//     to the current directory) and appends its bytes to OUTPUT in writes
//     of 1 MiB; nothing is masked or laid out. It measures before it opens,
//     as an archiver must that will not open a FIFO or a device by mistake.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/list_paths.h"

namespace {

constexpr std::size_t kWrite = std::size_t{1} << 20;

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Makes every directory on the way to the file `path` names, below `root`.
void MakeParents(int root, std::string path) {
  for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    path[slash] = '\0';
    (void)::mkdirat(root, path.c_str(), 0777);
    path[slash] = '/';
  }
}

int Create(const char* list, const char* tree, const char* dest) {
  const std::vector<std::string> names = kestrum::bench::ReadListPaths(list);
  std::vector<std::size_t> sizes(names.size());
  std::size_t largest = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    struct stat st {};
    if (::stat((std::string(tree) + '/' + names[i]).c_str(), &st) != 0) {
      std::fprintf(stderr, "cannot measure %s\n", names[i].c_str());
      return 1;
    }
    sizes[i] = static_cast<std::size_t>(st.st_size);
    largest = std::max(largest, sizes[i]);
  }
  const std::vector<char> bytes(std::max<std::size_t>(largest, 1), 'x');
  const int root = ::open(dest, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return 1;

  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < names.size(); ++i) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = ::openat(root, names[i].c_str(), kFlags, 0666);
    if (fd < 0 && errno == ENOENT) {
      MakeParents(root, names[i]);
      fd = ::openat(root, names[i].c_str(), kFlags, 0666);
    }
    if (fd < 0 || !WriteAll(fd, bytes.data(), sizes[i]) || ::close(fd) != 0) {
      std::fprintf(stderr, "cannot make %s\n", names[i].c_str());
      return 1;
    }
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.4f\n", took.count());
  return 0;
}

int Read(const char* list, const char* output) {
  const std::vector<std::string> names = kestrum::bench::ReadListPaths(list);
  std::vector<char> window(kWrite);
  const auto start = std::chrono::steady_clock::now();
  const int out = ::open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return 1;
  std::size_t used = 0;
  for (const std::string& name : names) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fprintf(stderr, "cannot measure %s\n", name.c_str());
      return 1;
    }
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "cannot read %s\n", name.c_str());
      return 1;
    }
    // Exactly the measured bytes: no read is spent on finding the end.
    for (auto left = static_cast<std::size_t>(st.st_size); left > 0;) {
      if (used == window.size()) {
        if (!WriteAll(out, window.data(), used)) return 1;
        used = 0;
      }
      const ssize_t n = ::read(fd, window.data() + used, std::min(left, window.size() - used));
      if (n <= 0) return 1;
      used += static_cast<std::size_t>(n);
      left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
  }
  if (!WriteAll(out, window.data(), used) || ::close(out) != 0) return 1;
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.4f\n", took.count());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "create") == 0) return Create(argv[2], argv[3], argv[4]);
  if (argc == 4 && std::strcmp(argv[1], "read") == 0) return Read(argv[2], argv[3]);
  std::fprintf(stderr, "usage: %s create LIST TREE DEST | read LIST OUTPUT\n", argv[0]);
  return 2;
}
