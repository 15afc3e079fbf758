// Asset loading through PhysicsFS from a stored (uncompressed) zip of the
// same files, for comparison with the reader runtime (see load_driver.h):
//   physfs_load_bench LIST ORDER THREADS [--verify] ZIPFILE
// Each file gets a 64 KiB read buffer, as a game tuning PhysicsFS would set.
#include <physfs.h>

#include "bench/load_driver.h"

int main(int argc, char** argv) {
  const kestrum::bench::LoadRun run = kestrum::bench::ParseLoadArguments(argc, argv, "ZIPFILE");
  if (run.route_args.empty()) return 2;
  if (PHYSFS_init(argv[0]) == 0 || PHYSFS_mount(run.route_args[0], nullptr, 1) == 0) {
    std::fprintf(stderr, "cannot mount %s\n", run.route_args[0]);
    return 1;
  }
  const int code = kestrum::bench::RunLoad(run, [](const std::string& path, std::vector<std::uint8_t>& buffer) {
    PHYSFS_File* file = PHYSFS_openRead(path.c_str());
    if (file == nullptr) return -1LL;
    PHYSFS_setBuffer(file, PHYSFS_uint64{64} * 1024);
    const PHYSFS_sint64 size = PHYSFS_fileLength(file);
    if (size < 0) {
      PHYSFS_close(file);
      return -1LL;
    }
    if (buffer.size() < static_cast<std::size_t>(size)) buffer.resize(static_cast<std::size_t>(size));
    const PHYSFS_sint64 got = size > 0 ? PHYSFS_readBytes(file, buffer.data(), static_cast<PHYSFS_uint64>(size)) : 0;
    PHYSFS_close(file);
    return got == size ? static_cast<long long>(size) : -1LL;
  });
  PHYSFS_deinit();
  return code;
}
