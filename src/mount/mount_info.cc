#include "mount_info.h"

#include <array>
#include <cstddef>

namespace kestrum {
namespace {

// A field of the table with the kernel's octal escapes (\040 for a blank,
// \011, \012, \134 for tab, newline and backslash) undone.
std::string Unescaped(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](std::size_t k) { return field[k] >= '0' && field[k] <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// The next blank-separated field of the line from `at`, which moves past it.
std::string_view NextField(std::string_view line, std::size_t& at) {
  while (at < line.size() && line[at] == ' ') ++at;
  const std::size_t begin = at;
  while (at < line.size() && line[at] != ' ') ++at;
  return line.substr(begin, at - begin);
}

}  // namespace

std::string MountDeviceOf(std::string_view mountinfo, std::string_view mountpoint, std::string_view type) {
  // A line: id, parent id, major:minor, root, mount point, options, optional
  // fields up to a lone "-", then the type, the source and more options.
  std::string device;
  while (!mountinfo.empty()) {
    const std::size_t end = mountinfo.find('\n');
    const std::string_view line = mountinfo.substr(0, end);
    mountinfo = end == std::string_view::npos ? std::string_view{} : mountinfo.substr(end + 1);
    std::size_t at = 0;
    std::array<std::string_view, 5> head;
    for (std::string_view& field : head) field = NextField(line, at);
    if (head[4].empty() || Unescaped(head[4]) != mountpoint) continue;
    std::string_view field;
    do {
      field = NextField(line, at);
    } while (!field.empty() && field != "-");
    if (field == "-" && NextField(line, at) == type) device = std::string(head[2]);
  }
  return device;
}

}  // namespace kestrum
