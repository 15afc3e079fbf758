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
#include <optional>
#include <thread>

#include "support/pak_decoder.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::ReadFileBytes;
using testing::WriteFile;

// Starts the tool in `dir` with standard output on `out` (-1: closed) and
// standard error on `err`, under an address-space limit, with the signals as
// a shell leaves them. Only async-signal-safe calls between fork and exec.
pid_t Start(const std::string& dir, std::vector<std::string> args, int out, int err, rlim_t memory = RLIM_INFINITY,
            bool ignore_hangup = false) {
  std::string binary = testing::ToolPath();
  std::vector<char*> argv{binary.data()};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (out >= 0) ::dup2(out, 1);
  if (out < 0) ::close(1);
  ::dup2(err, 2);
  const rlimit limit{memory, memory};
  ::setrlimit(RLIMIT_AS, &limit);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
  if (ignore_hangup) ::signal(SIGHUP, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::chdir(dir.c_str()) == 0) ::execv(argv[0], argv.data());
  ::_exit(127);
}

std::string Drain(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) != 0;) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) text.append(buf, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return text;
}

// The child's exit code, or 128 + the signal that ended it.
int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct ToolResult {
  int code;
  std::string out, err;
};

// Runs the tool to its end; standard output goes to `out_fd` when given
// (-1: closed), else it is read.
ToolResult RunUnder(const std::string& dir, const std::vector<std::string>& args, rlim_t memory = RLIM_INFINITY,
                    std::optional<int> out_fd = std::nullopt) {
  int out[2], err[2];
  EXPECT_EQ(::pipe2(out, O_CLOEXEC) | ::pipe2(err, O_CLOEXEC), 0);
  const pid_t pid = Start(dir, args, out_fd.value_or(out[1]), err[1], memory);
  ::close(out[1]);
  ::close(err[1]);
  ToolResult run;
  run.out = Drain(out[0]);
  run.err = Drain(err[0]);
  run.code = Wait(pid);
  return run;
}

bool TemporaryFileIn(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with(".kestrum-")) return true;
  }
  return false;
}

TEST(InterruptedBuild, EachSignalRemovesTheTemporaryFileAndEndsTheBuildByItself) {
  testing::TempDir dir;
  std::string list;
  for (int i = 0; i < 1000; ++i) {
    WriteFile(dir / ("f" + std::to_string(i)), "x");
    list += "f" + std::to_string(i) + "\n";
  }
  WriteFile(dir / "list.txt", list);
  // 0: a hang-up that the build was started with ignored (nohup).
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, 0}) {
    WriteFile(dir / "out.pak", "earlier pakfile");
    // Standard output is a one-page pipe, not read until the temporary file
    // exists: the progress lines fill it long before the last file, so the
    // build cannot finish before the signal.
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    ASSERT_GT(::fcntl(out[1], F_SETPIPE_SZ, 4096), 0);
    const pid_t pid = Start(dir.path(), {"--", "-a", "list.txt", "out.pak"}, out[1], 2, RLIM_INFINITY, sig == 0);
    ::close(out[1]);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!TemporaryFileIn(dir.path()) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The pipe is read only when the build is to finish: until then it
    // stays blocked wherever the signal finds it.
    if (sig == SIGPIPE) ::close(out[0]);  // the build's next write breaks the pipe
    if (sig != SIGPIPE) ::kill(pid, sig == 0 ? SIGHUP : sig);
    if (sig == 0) Drain(out[0]);
    const int code = Wait(pid);
    if (sig != 0 && sig != SIGPIPE) ::close(out[0]);
    EXPECT_FALSE(TemporaryFileIn(dir.path())) << "signal " << sig;
    if (sig == 0) {
      EXPECT_EQ(code, 0);
      testing::DecodedPak pak;
      std::string why;
      EXPECT_TRUE(testing::DecodePakFile(dir / "out.pak", {}, pak, why) && pak.entries.size() == 1000) << why;
    } else {
      EXPECT_EQ(code, 128 + sig);
      EXPECT_EQ(ReadFileBytes(dir / "out.pak"), "earlier pakfile") << "signal " << sig;
    }
  }
}

TEST(MemoryLimit, RunningOutOfMemoryGivesAMessageAndExitCode1) {
  testing::TempDir dir;
  // A sparse 1 GiB list: the reader would hold all of it, twice.
  WriteFile(dir / "huge.txt", "");
  std::filesystem::resize_file(dir / "huge.txt", std::uintmax_t{1} << 30);
  ToolResult run = RunUnder(dir.path(), {"--", "-a", "huge.txt"}, rlim_t{512} << 20);
  // AddressSanitizer reserves terabytes of address space as it starts.
  if (run.err.find("Sanitizer") != std::string::npos) GTEST_SKIP() << "the tool is built with a sanitizer";
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "\nKestrum V1.0\n------------------------------\n\nBad listfile 'huge.txt'\n");

  // Every limit from one too small to load the program to one that lets the
  // build through ends with 0 or 1, never a crash, and a failed build leaves
  // neither a temporary file nor a damaged earlier pakfile.
  WriteFile(dir / "big.bin", std::string(3 << 20, 'b'));
  WriteFile(dir / "list.txt", "list.txt\nbig.bin\nlist.txt\n");
  WriteFile(dir / "out.pak", "earlier pakfile");
  for (rlim_t limit = rlim_t{2} << 20; limit <= rlim_t{64} << 20 && run.code != 0; limit += rlim_t{512} << 10) {
    run = RunUnder(dir.path(), {"--", "-a", "list.txt", "out.pak"}, limit);
    if (run.code == 127 && run.out.empty()) continue;  // the program itself could not be loaded
    ASSERT_TRUE(run.code == 0 || run.code == 1) << "limit " << limit << ": " << run.code << "\n" << run.out << run.err;
    EXPECT_FALSE(TemporaryFileIn(dir.path())) << "limit " << limit;
    if (run.code == 0) break;
    // "Fatal error!" when there is not even room to throw an exception.
    EXPECT_TRUE(run.out.ends_with("Out of memory!\n") || run.out.ends_with("Fatal error!\n")) << run.out;
    EXPECT_EQ(ReadFileBytes(dir / "out.pak"), "earlier pakfile") << "limit " << limit;
  }
  EXPECT_EQ(run.code, 0);
}

TEST(UnwritableOutput, EveryCommandFailsAndSaysSoOnStandardError) {
  testing::TempDir dir;
  WriteFile(dir / "data/one.txt", "first file");
  WriteFile(dir / "list.txt", "data/one.txt\nlist.txt\n");
  ASSERT_EQ(testing::RunTool(dir.path(), {"--", "-a", "list.txt", "p.pak"}).exit_code, 0);
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  // -1: standard output closed, where no file the tool opens may take its
  // place (the unpacked files and the pakfile must hold no messages).
  for (const int out : {full, -1}) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--", "-l", "p.pak"},
                                               {"--", "-L", "p.pak"},
                                               {"--", "-x", "p.pak", "x"},
                                               {"--", "-a", "list.txt", "q.pak"}}) {
      const ToolResult run = RunUnder(dir.path(), args, RLIM_INFINITY, out);
      EXPECT_EQ(run.code, 1) << (args.empty() ? "usage" : args[1]);
      EXPECT_EQ(run.err, "Kestrum: error while writing standard output\n");
    }
    EXPECT_EQ(ReadFileBytes(dir / "x/data/one.txt"), "first file");
    EXPECT_EQ(ReadFileBytes(dir / "q.pak"), ReadFileBytes(dir / "p.pak"));
  }
  ::close(full);
}

}  // namespace
}  // namespace kestrum
