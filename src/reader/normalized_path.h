// A path to look up, in normalised form (see format/pak_path.h), kept in a
// buffer of its own for paths of usual length, so that opening a file
// allocates nothing for it; only a longer path goes to the heap.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "format/pak_path.h"

namespace kestrum {

class NormalizedPath {
 public:
  // Throws std::bad_alloc only for a path longer than the local buffer.
  explicit NormalizedPath(std::string_view path) {
    char* out = local_.data();
    if (path.size() > local_.size()) {
      heap_.resize(path.size());
      out = heap_.data();
    }
    for (std::size_t i = 0; i < path.size(); ++i) out[i] = NormalizePathByte(path[i]);
    view_ = std::string_view(out, path.size());
  }
  NormalizedPath(const NormalizedPath&) = delete;
  NormalizedPath& operator=(const NormalizedPath&) = delete;

  std::string_view view() const { return view_; }

 private:
  std::array<char, 256> local_;
  std::string heap_;
  std::string_view view_;
};

}  // namespace kestrum
