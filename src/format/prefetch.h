// Asks the processor to bring memory into its cache ahead of use. A
// pakfile's directory and name pool are in hash order: walks in data order
// (and the builder's walk of its list in hash order) jump around them.
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
