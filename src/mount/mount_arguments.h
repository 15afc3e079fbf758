// The command line of kestrum-mount:
//   kestrum-mount [options] LOCALE PAK [PAK...] MOUNTPOINT
// Options may stand anywhere: -f (stay in the foreground), -o OPTIONS or
// -oOPTIONS (FUSE mount options, passed through), -h/--help, -V/--version.
// "--" is the locale code for none, never an end of options; a pakfile whose
// name starts with '-' is given as ./-name.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace kestrum {

struct MountArguments {
  bool foreground = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> fuse_options;  // each -o value, in order
  std::string locale;
  std::vector<std::string> pakfiles;  // in the order given: later ones shadow earlier ones
  std::string mountpoint;
};

// Fills `out` from argv (argv[0] is the program). Returns an empty string,
// or the reason the arguments are not usable (one line, no line end). With
// --help or --version the positional arguments are not required.
std::string ParseMountArguments(std::span<const char* const> argv, MountArguments& out);

}  // namespace kestrum
