#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/run_tool.h"

#ifndef KESTRUM_BINARY
#error "KESTRUM_BINARY must name the built tool"
#endif

namespace kestrum::testing {
namespace {

// Appends one argument to a command line so that the C runtime's parser
// gives it back unchanged: quoted, with the backslashes in front of a quote
// (and at the end, before the closing quote) doubled.
void AppendQuoted(std::string& line, const std::string& arg) {
  line += '"';
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

// Reads the pipe to its end, as text: the tool's standard output is in text
// mode on Windows, which writes each "\n" as "\r\n"; that is undone here, so
// that the tests see the same output on every system.
void Drain(HANDLE pipe, std::string& into) {
  std::string raw;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) raw.append(buf, got);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    into += raw[i];
  }
}

struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  Pipe() {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) throw std::runtime_error("CreatePipe");
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);  // only the child's end is inherited
  }
  ~Pipe() {
    if (read != nullptr) CloseHandle(read);
    if (write != nullptr) CloseHandle(write);
  }
  void CloseWriteEnd() {
    CloseHandle(write);
    write = nullptr;
  }
};

}  // namespace

std::string ToolPath() { return KESTRUM_BINARY; }

ToolRun RunTool(const std::string& cwd, const std::vector<std::string>& args) {
  std::string binary = KESTRUM_BINARY;
  std::replace(binary.begin(), binary.end(), '/', '\\');
  std::string line;
  AppendQuoted(line, binary);
  for (const std::string& a : args) {
    line += ' ';
    AppendQuoted(line, a);
  }

  Pipe out, err;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = out.write;
  startup.hStdError = err.write;
  PROCESS_INFORMATION process{};
  // Under Wine, on a busy machine, starting a process now and then fails
  // for no lasting reason; a few more tries tell that from a real fault.
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 4 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessA(binary.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &startup,
                             &process);
    if (!started) error = GetLastError();
  }
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (!started) throw std::runtime_error("CreateProcess " + binary + " failed with error " + std::to_string(error));
  // The child holds its own copies now; ours must go, or the pipes never end.
  out.CloseWriteEnd();
  err.CloseWriteEnd();

  ToolRun run;
  std::thread err_reader([&] { Drain(err.read, run.err); });
  Drain(out.read, run.out);
  err_reader.join();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  run.exit_code = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

std::optional<std::uint64_t> PeakMemoryKib(const std::string&, const std::vector<std::string>&, int&) {
  return std::nullopt;
}

}  // namespace kestrum::testing
