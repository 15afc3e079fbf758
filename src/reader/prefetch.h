// Asks the processor to bring memory into its cache ahead of use: the
// directory and the name pool are stored in hash order, and walks in data
// order jump around both.
#pragma once

namespace kestrum {

inline void PrefetchForRead(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

}  // namespace kestrum
