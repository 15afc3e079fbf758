// How a game uses the Kestrum reader runtime: a base pakfile, kept as a
// local cache copy so that later starts read the copy, and a patch pakfile
// opened after it, whose files shadow the base's. Files are asked for by
// path in any letter case and with either slash.
//
//   embed_game BASE.pak PATCH.pak CACHE.pak PATH...
//
// Prints each path with its size and contents (the example's files are
// text), or "missing".
#include <kestrum/pak_reader.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// The stamp that marks a finished cache copy as this build's own; a copy
// with another stamp (an older game version) is made anew.
constexpr std::uint32_t kCacheStamp = 0x20261208;

std::string ReadAll(kestrum::PakFileHandle* file) {
  std::string data;
  char chunk[4096];
  for (;;) {
    const std::int32_t got = kestrum::PakFileRead(file, chunk, sizeof chunk);
    if (got <= 0) break;
    data.append(chunk, static_cast<std::size_t>(got));
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: embed_game BASE.pak PATCH.pak CACHE.pak PATH...\n");
    return 2;
  }
  // Later pakfiles shadow earlier ones: the patch goes last.
  if (kestrum::PakOpen(argv[1], 64, argv[3], kCacheStamp, true) < 0) {
    std::fprintf(stderr, "cannot open the base pakfile %s\n", argv[1]);
    return 1;
  }
  if (kestrum::PakOpen(argv[2], 64, "", 0, false) < 0) {
    std::fprintf(stderr, "cannot open the patch pakfile %s\n", argv[2]);
    return 1;
  }
  for (int i = 4; i < argc; ++i) {
    kestrum::PakFileHandle* file = kestrum::PakFileOpen(argv[i]);
    if (file == nullptr) {
      std::printf("%s: missing\n", argv[i]);
      continue;
    }
    const std::int32_t size = kestrum::PakFileSize(file);
    const std::string data = ReadAll(file);
    kestrum::PakFileClose(file);
    std::printf("%s: %d bytes: %s\n", argv[i], size, data.c_str());
  }
  // Closing finishes the cache copy: the rest of the base is read through
  // to it, and it is stamped and renamed into place.
  kestrum::PakCloseAll();
  return 0;
}
