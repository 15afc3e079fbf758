#include "mount_arguments.h"

#include <string_view>

namespace kestrum {

std::string ParseMountArguments(std::span<const char* const> argv, MountArguments& out) {
  std::vector<std::string> positional;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      out.help = true;
    } else if (arg == "-V" || arg == "--version") {
      out.version = true;
    } else if (arg == "-f") {
      out.foreground = true;
    } else if (arg == "-o") {
      if (i + 1 == argv.size()) return "option -o needs a value";
      out.fuse_options.emplace_back(argv[++i]);
    } else if (arg.starts_with("-o")) {
      out.fuse_options.emplace_back(arg.substr(2));
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return "unknown option '" + std::string(arg) + "'";
    } else {
      positional.emplace_back(arg);
    }
  }
  if (out.help || out.version) return {};
  if (positional.size() < 3) return "a locale, at least one pakfile and a mount point are needed";
  out.locale = positional.front();
  out.mountpoint = positional.back();
  out.pakfiles.assign(positional.begin() + 1, positional.end() - 1);
  return {};
}

}  // namespace kestrum
