// Linux only: whether this kernel gives the process io_uring rings that can
// carry the given operations (IORING_OP_*). Rings may be missing altogether
// (an old kernel, a sysctl or seccomp policy) or lack newer operations.
// Only *_linux.cc files include this.
#pragma once

#include <initializer_list>

namespace kestrum {

bool UringSupports(std::initializer_list<int> operations);

}  // namespace kestrum
