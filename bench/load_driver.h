// The asset-loading benchmark's common part: every file of a list, opened,
// read whole and closed, in list order or in one fixed shuffled order, by a
// number of threads that take the next file from a shared counter, as a
// game's loader pool does. Each route (the reader runtime, loose files,
// another archive library) supplies only "load this file into the buffer".
//
//   <program> LIST data|random THREADS [--verify] ROUTE-ARGUMENTS...
//
// Prints one line: the seconds of the loading loop, the bytes loaded and a
// checksum. A timed run's checksum covers each file's length and its first
// and last byte, so that the timing is not a hashing benchmark; --verify
// hashes every byte instead (run once per route, untimed), so routes that
// must deliver the same files can be compared.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/list_paths.h"

namespace kestrum::bench {

struct LoadRun {
  std::vector<std::string> paths;  // in the order of loading
  int threads = 1;
  bool verify = false;
  std::vector<const char*> route_args;
};

// Reads the list (one path per line) and the common arguments; exits with a
// usage line when they are wrong.
inline LoadRun ParseLoadArguments(int argc, char** argv, const char* route_usage) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s LIST data|random THREADS [--verify] %s\n", argv[0], route_usage);
    std::exit(2);
  }
  LoadRun run;
  run.paths = ReadListPaths(argv[1]);
  if (std::strcmp(argv[2], "random") == 0) {
    std::mt19937_64 shuffle(12345);
    std::shuffle(run.paths.begin(), run.paths.end(), shuffle);
  } else if (std::strcmp(argv[2], "data") != 0) {
    std::fprintf(stderr, "order must be data or random\n");
    std::exit(2);
  }
  run.threads = std::max(1, std::atoi(argv[3]));
  int next = 4;
  if (next < argc && std::strcmp(argv[next], "--verify") == 0) {
    run.verify = true;
    ++next;
  }
  for (; next < argc; ++next) run.route_args.push_back(argv[next]);
  return run;
}

inline std::uint64_t HashBytes(const std::uint8_t* data, std::size_t size) {
  std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a
  for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3u;
  return h;
}

// load(path, buffer) puts the whole file into buffer (resizing it as needed)
// and returns its length, or -1 when the file cannot be loaded. Returns the
// process exit code: 1 when any file failed.
template <typename Load>
int RunLoad(const LoadRun& run, Load&& load) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::uint64_t> checksum{0};
  std::atomic<std::uint64_t> total{0};
  std::atomic<std::size_t> failures{0};
  auto worker = [&] {
    std::vector<std::uint8_t> buffer(1 << 16);
    std::uint64_t sum = 0;
    std::uint64_t bytes = 0;
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < run.paths.size();) {
      const long long got = load(run.paths[i], buffer);
      if (got < 0) {
        failures.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      const auto n = static_cast<std::size_t>(got);
      bytes += n;
      // Summed, so that the result does not depend on which thread loaded what.
      if (run.verify) {
        sum += HashBytes(buffer.data(), n);
      } else {
        sum += n + (n > 0 ? buffer[0] * 3u + buffer[n - 1] * 7u : 0u);
      }
    }
    checksum.fetch_add(sum, std::memory_order_relaxed);
    total.fetch_add(bytes, std::memory_order_relaxed);
  };
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> pool;
  for (int t = 1; t < run.threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("%.6f %llu %016llx\n", seconds.count(), static_cast<unsigned long long>(total.load()),
              static_cast<unsigned long long>(checksum.load()));
  if (failures.load() > 0) {
    std::fprintf(stderr, "%zu files could not be loaded\n", failures.load());
    return 1;
  }
  return 0;
}

}  // namespace kestrum::bench
