// The header build for large lists: orderings, the name pool with its
// representative search, the directory and the protected encoding.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "builder/header_layout.h"
#include "builder/list_file.h"
#include "builder/orderings.h"

namespace kestrum {
namespace {

// 65,535 files in thousands of directories under long shared prefixes: the
// shape that makes a walk over the split order per record quadratic.
std::string DeepList(int files) {
  const std::string root = "assets\\" + std::string(120, 'r') + "\\textures\\";
  std::string lines;
  for (int i = 0; i < files; ++i) {
    lines += root + "set" + std::to_string(i % 512) + "\\variant" + std::to_string(i % 9) + "\\file" +
             std::to_string(i) + ".dds\n";
  }
  return lines;
}

struct ParsedList {
  std::string text, source;
  EntryTable table;
  std::vector<std::uint32_t> accepted;
};

void Parse(const std::string& lines, ParsedList& list) {
  list.text = lines + '\0';
  list.source = list.text;
  list.table.clear();
  ParseListBuffer(list.text, list.source, list.table);
  list.accepted.clear();
  for (std::uint32_t i = 0; i < list.table.size(); ++i) {
    list.table[i].size = 100;
    list.table[i].data_offset = 100 * i;
    list.accepted.push_back(i);
  }
}

void BM_HeaderBuild(benchmark::State& state) {
  ParsedList list;
  Parse(DeepList(static_cast<int>(state.range(0))), list);
  for (auto _ : state) {
    for (PackEntry& e : list.table) e.dir_string_offset = -1;
    HeaderLayout layout;
    LayOutHeader(list.table, list.accepted, layout, nullptr);
    auto image = EncodeHeaderRegion(layout, {});
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HeaderBuild)->Arg(1024)->Arg(16384)->Arg(65535)->Unit(benchmark::kMillisecond);

// The straightforward representative search, a walk over the split order for
// every record, for comparison at sizes where it still finishes.
void BM_RepresentativeWalk(benchmark::State& state) {
  ParsedList list;
  Parse(DeepList(static_cast<int>(state.range(0))), list);
  std::vector<std::uint32_t> split_order = list.accepted;
  SortSplitOrder(list.table, split_order);
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::uint32_t e : list.accepted) {
      const std::int32_t s = list.table[e].split;
      for (std::uint32_t r : split_order) {
        if (list.table[r].split >= s &&
            std::memcmp(list.table[r].name, list.table[e].name, static_cast<std::size_t>(s)) == 0) {
          sum += r;
          break;
        }
      }
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_RepresentativeWalk)->Arg(1024)->Arg(16384)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum
