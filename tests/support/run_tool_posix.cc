#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "support/run_tool.h"

#ifndef KESTRUM_BINARY
#error "KESTRUM_BINARY must name the built tool"
#endif

namespace kestrum::testing {
namespace {

void DrainBoth(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  int open_count = 2;
  char buf[65536];
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? out : err).append(buf, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

std::vector<char*> Argv(std::string& binary, std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(binary.data());
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

std::string ToolPath() { return KESTRUM_BINARY; }

ToolRun RunTool(const std::string& cwd, const std::vector<std::string>& args) {
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::string binary = KESTRUM_BINARY;
  std::vector<std::string> copies = args;
  const std::vector<char*> argv = Argv(binary, copies);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ToolRun run;
  DrainBoth(out_pipe[0], err_pipe[0], run.out, run.err);
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exit_code = ExitCode(status);
  return run;
}

std::optional<std::uint64_t> PeakMemoryKib(const std::string& cwd, const std::vector<std::string>& args,
                                           int& exit_code) {
  std::string binary = KESTRUM_BINARY;
  std::vector<std::string> copies = args;
  const std::vector<char*> argv = Argv(binary, copies);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  exit_code = ExitCode(status);
  return static_cast<std::uint64_t>(usage.ru_maxrss);
}

}  // namespace kestrum::testing
