// Runs the kestrum binary as a user would, in a given working directory, and
// captures its standard output and exit code.
#pragma once

#include <string>
#include <vector>

namespace kestrum::testing {

struct ToolRun {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error (the tool never writes to it)
};

ToolRun RunTool(const std::string& cwd, const std::vector<std::string>& args);

// The built tool's path, for tests that start it their own way.
std::string ToolPath();

}  // namespace kestrum::testing
