// The paths of a benchmark's list file, one per line, in order (a line's
// trailing carriage return dropped, empty lines skipped).
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace kestrum::bench {

inline std::vector<std::string> ReadListPaths(const char* path) {
  std::vector<std::string> paths;
  std::ifstream list(path);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  return paths;
}

}  // namespace kestrum::bench
