// kestrum-mount: pakfiles as a read-only file system, through FUSE.
//   kestrum-mount [options] LOCALE PAK [PAK...] MOUNTPOINT
// Every pakfile is opened and checked, and the tree built, before anything
// is mounted: a pakfile that cannot be opened ends the run with the tool's
// "Bad Pakfile" line and exit code 1. Messages go to standard output, as the
// tool's do; libfuse's own go to standard error.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#define FUSE_USE_VERSION 34
#include <fuse_lowlevel.h>
#include <kestrum/pak_reader.h>

#include "mount_arguments.h"
#include "mount_fs_linux.h"
#include "mount_tree.h"
#include "pak_sources.h"
#include "read_ahead_linux.h"

namespace kestrum {
namespace {

void PrintUsage() {
  std::fputs(
      "Usage: kestrum-mount [options] LOCALE PAK [PAK...] MOUNTPOINT\n"
      "Mounts the pakfiles read-only at MOUNTPOINT; a pakfile given later shadows\n"
      "the same path in earlier ones. LOCALE is a two-letter code, or -- for none.\n"
      "Unmount with: fusermount3 -u MOUNTPOINT\n"
      "\n"
      "Options:\n"
      "  -f             stay in the foreground\n"
      "  -o OPTIONS     FUSE mount options, such as allow_other\n"
      "  -h, --help     show this help\n"
      "  -V, --version  show the version\n",
      stdout);
}

bool Later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Running in the background: the process forks before it opens anything.
// The parent waits for the child's word that the mount is up (a 0 byte) and
// exits with 0; when the child fails first, the parent exits with the
// child's exit code. So the command returns only once the tree can be used,
// and its exit code says whether it can. Returns the pipe's write end, in
// the child.
int StartInBackground() {
  int ends[2];
  if (pipe(ends) != 0) {
    std::printf("kestrum-mount: cannot start in the background: %s\n", std::strerror(errno));
    return -1;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child < 0) {
    std::printf("kestrum-mount: cannot start in the background: %s\n", std::strerror(errno));
    return -1;
  }
  if (child > 0) {
    close(ends[1]);
    char word = 1;
    ssize_t got;
    while ((got = read(ends[0], &word, 1)) < 0 && errno == EINTR) {
    }
    if (got == 1 && word == 0) _exit(0);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) && WEXITSTATUS(status) != 0 ? WEXITSTATUS(status) : 1);
  }
  close(ends[0]);
  setsid();
  return ends[1];
}

// The mount is up: let go of the terminal and the caller's directory, and
// tell the waiting parent.
void Detach(int ready) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (chdir("/") != 0) {
    // The mount works from any directory; "/" only keeps ours unbusy.
  }
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (null > STDERR_FILENO) close(null);
  }
  const char word = 0;
  while (write(ready, &word, 1) < 0 && errno == EINTR) {
  }
  close(ready);
}

// Opens the pakfiles in the order given and builds the tree. False, after
// printing why, when a pakfile cannot be used.
bool LoadPakfiles(const std::vector<std::string>& paths, MountFileSystem& fs) {
  std::vector<PakContents> contents(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    MountSource source;
    std::string message;
    source.pak = OpenPakForMount(paths[i], kBlockKib, message);
    std::fputs(message.c_str(), stdout);
    if (source.pak.id < 0) return false;
    source.pak.position = static_cast<std::int32_t>(i);
    contents[i].name = paths[i];
    if (const PakError error = ListPakForMount(source.pak.id, contents[i]); error != PakError::kNone) {
      std::printf("Bad Pakfile '%s'\n  %s\n", paths[i].c_str(), PakErrorMessage(error));
      return false;
    }
    struct stat st {};
    if (stat(paths[i].c_str(), &st) == 0) {
      source.mtime = st.st_mtim;
      source.bytes = static_cast<std::uint64_t>(st.st_size);
    }
    if (Later(source.mtime, fs.directory_mtime)) fs.directory_mtime = source.mtime;
    fs.sources.push_back(source);
  }
  fs.tree = BuildMountTree(contents);
  for (const std::string& warning : fs.tree.warnings) std::printf("%s\n", warning.c_str());
  return true;
}

int Serve(const MountArguments& args, int ready) {
  if (args.locale != "--") SetLocaleKey(args.locale.c_str());
  MountFileSystem fs;
  if (!LoadPakfiles(args.pakfiles, fs)) return 1;
  fs.uid = getuid();
  fs.gid = getgid();

  fuse_session* session = NewMountSession(fs, args.fuse_options);
  if (session == nullptr) return 1;
  // Where the mount will be, as the kernel's table of mounts shows it; found
  // before mounting, since looking at it after would ask this process.
  char* resolved = realpath(args.mountpoint.c_str(), nullptr);
  const std::string mountpoint = resolved != nullptr ? resolved : "";
  std::free(resolved);
  int code = 1;
  if (fuse_set_signal_handlers(session) == 0) {
    if (fuse_session_mount(session, args.mountpoint.c_str()) == 0) {
      if (!mountpoint.empty()) RaiseReadAhead(mountpoint);
      if (ready >= 0) Detach(ready);
      fuse_loop_config config{};
      config.clone_fd = 0;
      config.max_idle_threads = 10;
      code = fuse_session_loop_mt(session, &config) == 0 ? 0 : 1;
      fuse_session_unmount(session);
    }
    fuse_remove_signal_handlers(session);
  }
  fuse_session_destroy(session);
  PakCloseAll();
  return code;
}

int Run(int argc, char** argv) {
  MountArguments args;
  const std::string error =
      ParseMountArguments(std::span<const char* const>(argv, static_cast<std::size_t>(argc)), args);
  if (!error.empty()) {
    std::printf("kestrum-mount: %s\nTry 'kestrum-mount --help'.\n", error.c_str());
    return 1;
  }
  if (args.help) {
    PrintUsage();
    return 0;
  }
  if (args.version) {
    std::printf("kestrum-mount %d.%d (FUSE %s)\n", kVersionMajor, kVersionMinor, fuse_pkgversion());
    return 0;
  }
  if (args.locale.size() != 2) {
    std::printf("Invalid locale '%s' specified!\n", args.locale.c_str());
    return 1;
  }
  const int ready = args.foreground ? -1 : StartInBackground();
  if (!args.foreground && ready < 0) return 1;
  return Serve(args, ready);
}

}  // namespace
}  // namespace kestrum

int main(int argc, char** argv) { return kestrum::Run(argc, argv); }
