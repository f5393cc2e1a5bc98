#pragma once

namespace common {

// Asks for the cache line at p ahead of its use; never faults, whatever p is. GCC drops a
// __builtin_prefetch whose address was loaded from memory as dead code, so on x86 the
// instruction is written out.
inline void Prefetch(const void *p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char *>(p)));
#else
  __builtin_prefetch(p);
#endif
}

} // namespace common
