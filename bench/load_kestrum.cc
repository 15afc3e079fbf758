// Asset loading through the reader runtime, and from loose files for
// comparison (see load_driver.h):
//   kestrum_load_bench LIST ORDER THREADS [--verify] kestrum PAKFILE [BLOCK_KIB]
//   kestrum_load_bench LIST ORDER THREADS [--verify] kestrum-c PAKFILE [BLOCK_KIB]
//   kestrum_load_bench LIST ORDER THREADS [--verify] loose TREE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "api/kestrum.h"
#include "bench/load_driver.h"
#include "reader/pak_reader.h"

namespace {

using kestrum::bench::LoadRun;

int LoadFromPakfile(const LoadRun& run) {
  if (run.route_args.size() < 2) return 2;
  const std::uint32_t block_kib = run.route_args.size() > 2 ? std::atoi(run.route_args[2]) : 64;
  if (kestrum::PakOpen(run.route_args[1], block_kib, {}, 0, false) < 0) {
    std::fprintf(stderr, "cannot open %s\n", run.route_args[1]);
    return 1;
  }
  const int code = kestrum::bench::RunLoad(run, [](const std::string& path, std::vector<std::uint8_t>& buffer) {
    kestrum::PakFileHandle* file = kestrum::PakFileOpen(path);
    if (file == nullptr) return -1LL;
    const std::int32_t size = kestrum::PakFileSize(file);
    if (size < 0) {
      kestrum::PakFileClose(file);
      return -1LL;
    }
    if (buffer.size() < static_cast<std::size_t>(size)) buffer.resize(static_cast<std::size_t>(size));
    const std::int32_t got = size > 0 ? kestrum::PakFileRead(file, buffer.data(), static_cast<std::uint32_t>(size)) : 0;
    kestrum::PakFileClose(file);
    return got == size ? static_cast<long long>(size) : -1LL;
  });
  kestrum::PakCloseAll();
  return code;
}

// The same through the C interface, whose handles are tokens in a table.
int LoadFromPakfileThroughC(const LoadRun& run) {
  if (run.route_args.size() < 2) return 2;
  kestrum_open_options options{};
  options.block_kib = run.route_args.size() > 2 ? std::atoi(run.route_args[2]) : 64;
  kestrum_pak* pak = nullptr;
  if (kestrum_pak_open_ex(run.route_args[1], &options, &pak, nullptr) != KESTRUM_OK) {
    std::fprintf(stderr, "cannot open %s\n", run.route_args[1]);
    return 1;
  }
  const int code = kestrum::bench::RunLoad(run, [](const std::string& path, std::vector<std::uint8_t>& buffer) {
    kestrum_file* file = nullptr;
    if (kestrum_file_open(path.c_str(), &file) != KESTRUM_OK) return -1LL;
    std::uint64_t size = 0;
    std::size_t got = 0;
    bool ok = kestrum_file_size(file, &size) == KESTRUM_OK;
    if (ok && buffer.size() < size) buffer.resize(size);
    ok = ok && (size == 0 || kestrum_file_read(file, buffer.data(), size, &got) == KESTRUM_OK);
    kestrum_file_close(file);
    return ok && got == size ? static_cast<long long>(size) : -1LL;
  });
  kestrum_pak_close(pak);
  return code;
}

int LoadLooseFiles(const LoadRun& run) {
  if (run.route_args.size() < 2) return 2;
  const int tree = ::open(run.route_args[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (tree < 0) {
    std::fprintf(stderr, "cannot open %s\n", run.route_args[1]);
    return 1;
  }
  // What a loader of loose files does: open, size, read, close.
  const int code = kestrum::bench::RunLoad(run, [tree](const std::string& path, std::vector<std::uint8_t>& buffer) {
    const int fd = ::openat(tree, path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1LL;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      ::close(fd);
      return -1LL;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (buffer.size() < size) buffer.resize(size);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = ::read(fd, buffer.data() + done, size - done);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return done == size ? static_cast<long long>(size) : -1LL;
  });
  ::close(tree);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const LoadRun run =
      kestrum::bench::ParseLoadArguments(argc, argv, "kestrum|kestrum-c PAKFILE [BLOCK_KIB] | loose TREE");
  if (!run.route_args.empty() && std::strcmp(run.route_args[0], "kestrum") == 0) return LoadFromPakfile(run);
  if (!run.route_args.empty() && std::strcmp(run.route_args[0], "kestrum-c") == 0) return LoadFromPakfileThroughC(run);
  if (!run.route_args.empty() && std::strcmp(run.route_args[0], "loose") == 0) return LoadLooseFiles(run);
  std::fprintf(stderr, "route must be kestrum, kestrum-c or loose\n");
  return 2;
}
