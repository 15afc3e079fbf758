// Runs the kestrum binary as a user would, in a given working directory, and
// captures its standard output and exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrum::testing {

struct ToolRun {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error (the tool never writes to it)
};

ToolRun RunTool(const std::string& cwd, const std::vector<std::string>& args);

// Runs the tool with its output thrown away; returns its peak resident set in
// KiB, or nothing where the system does not tell. On Linux the figure starts
// from what this (forked) test process held when the tool was started, so
// keep that small.
std::optional<std::uint64_t> PeakMemoryKib(const std::string& cwd, const std::vector<std::string>& args,
                                           int& exit_code);

// The built tool's path, for tests that start it their own way.
std::string ToolPath();

}  // namespace kestrum::testing
