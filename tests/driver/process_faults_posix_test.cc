// The tool under faults of its process, on POSIX: signals that end a build,
// a limit on its memory, and standard output that cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/pak_decoder.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::ReadFileBytes;
using testing::WriteFile;

const std::string kBanner = "\nKestrum V1.0\n------------------------------\n\n";
const std::string kOutputFailed = "Kestrum: error while writing standard output\n";

struct Child {
  int stdout_fd = -1;  // -1: standard output closed
  int stderr_fd = -1;  // -1: inherited
  rlim_t memory_limit = RLIM_INFINITY;
  bool hangup_ignored = false;
};

// Starts the tool in `cwd`; only async-signal-safe calls between fork and exec.
pid_t Start(const std::string& cwd, const std::vector<std::string>& args, const Child& how) {
  std::string binary = testing::ToolPath();
  std::vector<std::string> copies = args;
  std::vector<char*> argv{binary.data()};
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (how.stdout_fd >= 0) {
      ::dup2(how.stdout_fd, 1);
    } else {
      ::close(1);
    }
    if (how.stderr_fd >= 0) ::dup2(how.stderr_fd, 2);
    const rlimit limit{how.memory_limit, how.memory_limit};
    ::setrlimit(RLIMIT_AS, &limit);
    // The signals as a shell leaves them to a command, whatever the test
    // runner did with its own.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (how.hangup_ignored) ::signal(SIGHUP, SIG_IGN);
    if (::chdir(cwd.c_str()) == 0) ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// How the child ended: its exit code, or 128 + the signal that ended it.
int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string DrainAndClose(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) != 0;) {
    if (got > 0) text.append(buf, static_cast<std::size_t>(got));
    if (got < 0 && errno != EINTR) break;
  }
  ::close(fd);
  return text;
}

struct Pipe {
  Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0); }
  ~Pipe() {
    for (const int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  }
  int TakeRead() { return std::exchange(fds[0], -1); }
  void CloseWrite() { ::close(std::exchange(fds[1], -1)); }
  int fds[2] = {-1, -1};
};

// Runs the tool to its end with the given standard output (-1: closed);
// returns the exit code and what it wrote on standard error.
int RunWithOutput(const std::string& cwd, const std::vector<std::string>& args, int stdout_fd, std::string& err,
                  rlim_t memory_limit = RLIM_INFINITY, std::string* out = nullptr) {
  Pipe err_pipe, out_pipe;
  Child how{.stdout_fd = out != nullptr ? out_pipe.fds[1] : stdout_fd,
            .stderr_fd = err_pipe.fds[1],
            .memory_limit = memory_limit};
  const pid_t pid = Start(cwd, args, how);
  err_pipe.CloseWrite();
  out_pipe.CloseWrite();
  if (out != nullptr) *out = DrainAndClose(out_pipe.TakeRead());
  err = DrainAndClose(err_pipe.TakeRead());
  return Wait(pid);
}

bool TemporaryFileIn(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(".kestrum-", 0) == 0) return true;
  }
  return false;
}

// A build that stops in the middle of its copy: its standard output is a
// one-page pipe that nobody reads, and its per-file progress lines fill it
// long before the last file. Once the temporary file exists the build
// cannot finish until the pipe is read.
class InterruptedBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string list;
    for (int i = 0; i < 600; ++i) {
      WriteFile(dir_ / ("f" + std::to_string(i)), std::string(static_cast<std::size_t>(i % 7), 'x'));
      list += "f" + std::to_string(i) + "\n";
    }
    WriteFile(dir_ / "list.txt", list);
    WriteFile(dir_ / "out.pak", "earlier pakfile");
  }

  // Starts the build and returns once it has created its temporary file.
  pid_t StartStalled(Pipe& out, bool hangup_ignored = false) {
    ::fcntl(out.fds[1], F_SETPIPE_SZ, 4096);
    const pid_t pid = Start(dir_.path(), {"--", "-a", "list.txt", "out.pak"},
                            Child{.stdout_fd = out.fds[1], .hangup_ignored = hangup_ignored});
    out.CloseWrite();
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!TemporaryFileIn(dir_.path()) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(TemporaryFileIn(dir_.path())) << "the build never started its copy";
    return pid;
  }

  testing::TempDir dir_;
};

TEST_F(InterruptedBuild, EachSignalRemovesTheTemporaryFileAndEndsTheProcessByItself) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    Pipe out;
    const pid_t pid = StartStalled(out);
    if (sig == SIGPIPE) {
      ::close(out.TakeRead());  // the next write of the build breaks the pipe
    } else {
      ::kill(pid, sig);
      DrainAndClose(out.TakeRead());
    }
    EXPECT_EQ(Wait(pid), 128 + sig) << "signal " << sig;
    EXPECT_FALSE(TemporaryFileIn(dir_.path())) << "signal " << sig;
    EXPECT_EQ(ReadFileBytes(dir_ / "out.pak"), "earlier pakfile") << "signal " << sig;
  }
}

TEST_F(InterruptedBuild, AHangupIgnoredWhenTheBuildStartedStaysIgnored) {
  Pipe out;
  const pid_t pid = StartStalled(out, /*hangup_ignored=*/true);
  ::kill(pid, SIGHUP);
  const std::string printed = DrainAndClose(out.TakeRead());
  EXPECT_EQ(Wait(pid), 0) << printed.substr(printed.size() - 100);
  testing::DecodedPak pak;
  std::string why;
  ASSERT_TRUE(testing::DecodePakFile(dir_ / "out.pak", {}, pak, why)) << why;
  EXPECT_EQ(pak.entries.size(), 600u);
}

TEST(MemoryLimit, RunningOutOfMemoryGivesAMessageAndExitCode1) {
  testing::TempDir dir;
  // A sparse 1 GiB list: the reader wants to hold all of it (twice).
  WriteFile(dir / "huge.txt", "");
  std::filesystem::resize_file(dir / "huge.txt", std::uintmax_t{1} << 30);
  std::string err, out;
  const int code = RunWithOutput(dir.path(), {"--", "-a", "huge.txt"}, -1, err, rlim_t{512} << 20, &out);
  // AddressSanitizer reserves terabytes of address space as it starts.
  if (err.find("Sanitizer") != std::string::npos) GTEST_SKIP() << "the tool is built with a sanitizer";
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out, kBanner + "Bad listfile 'huge.txt'\n");

  // Every limit from one too small to start the program to one that lets the
  // build through: each ends with exit code 0 or 1, never a crash, and a
  // failed build leaves neither a temporary file nor a damaged earlier one.
  WriteFile(dir / "big.bin", std::string(3 << 20, 'b'));
  WriteFile(dir / "a", "a");
  WriteFile(dir / "list.txt", "a\nbig.bin\na\n");
  WriteFile(dir / "out.pak", "earlier pakfile");
  bool built = false;
  for (rlim_t limit = rlim_t{2} << 20; limit <= rlim_t{64} << 20 && !built; limit += rlim_t{512} << 10) {
    const int result = RunWithOutput(dir.path(), {"--", "-a", "list.txt", "out.pak"}, -1, err, limit, &out);
    if (result == 127 && out.empty()) continue;  // the program itself could not be loaded
    ASSERT_TRUE(result == 0 || result == 1) << "limit " << limit << ": " << result << "\n" << out << err;
    EXPECT_FALSE(TemporaryFileIn(dir.path())) << "limit " << limit;
    built = result == 0;
    if (!built) {
      // "Fatal error!" when there is not even room to throw an exception.
      const bool reported = out.ends_with("Out of memory!\n") || out.ends_with("Fatal error!\n");
      EXPECT_TRUE(reported) << "limit " << limit << ": " << out;
      EXPECT_EQ(ReadFileBytes(dir / "out.pak"), "earlier pakfile") << "limit " << limit;
    }
  }
  EXPECT_TRUE(built);
}

TEST(UnwritableOutput, EveryCommandFailsAndSaysSoOnStandardError) {
  testing::TempDir dir;
  WriteFile(dir / "data/one.txt", "first file");
  WriteFile(dir / "data/two.txt", std::string(100000, 't'));
  WriteFile(dir / "list.txt", "data/one.txt\ndata/two.txt\n");
  ASSERT_EQ(testing::RunTool(dir.path(), {"--", "-a", "list.txt", "p.pak"}).exit_code, 0);

  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  const std::vector<std::vector<std::string>> commands{
      {}, {"--", "-l", "p.pak"}, {"--", "-L", "p.pak"}, {"--", "-x", "p.pak", "x"}, {"--", "-a", "list.txt", "q.pak"}};
  for (const auto& args : commands) {
    std::string err;
    EXPECT_EQ(RunWithOutput(dir.path(), args, full, err), 1) << (args.empty() ? "usage" : args[1]);
    EXPECT_EQ(err, kOutputFailed);
  }
  ::close(full);

  // Standard output closed: no file the tool opens may take its place.
  std::string err;
  EXPECT_EQ(RunWithOutput(dir.path(), {"--", "-x", "p.pak", "closed"}, -1, err), 1);
  EXPECT_EQ(err, kOutputFailed);
  EXPECT_EQ(ReadFileBytes(dir / "closed/data/one.txt"), "first file");
  EXPECT_EQ(ReadFileBytes(dir / "closed/data/two.txt"), std::string(100000, 't'));
  EXPECT_EQ(RunWithOutput(dir.path(), {"--", "-a", "list.txt", "c.pak"}, -1, err), 1);
  EXPECT_EQ(ReadFileBytes(dir / "c.pak"), ReadFileBytes(dir / "p.pak"));
}

}  // namespace
}  // namespace kestrum
