#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace common {

// memcpy for the many short pieces of a large read or dump (a cell record's body, a cell's text):
// 8 to 64 bytes are copied inline as two overlapping pieces of a fixed size instead of through a
// call (or a string instruction, slow to start, that the compiler may put in its place). The
// ranges must not overlap.
inline void CopyShort(void *to, const void *from, size_t count) {
  auto *out = static_cast<uint8_t *>(to);
  const auto *in = static_cast<const uint8_t *>(from);
  auto pair = [&](auto piece) {
    decltype(piece) head, tail;
    std::memcpy(&head, in, sizeof head);
    std::memcpy(&tail, in + count - sizeof tail, sizeof tail);
    std::memcpy(out, &head, sizeof head);
    std::memcpy(out + count - sizeof tail, &tail, sizeof tail);
  };
  struct TSixteen {
    uint64_t Half[2];
  };
  struct TThirtyTwo {
    uint64_t Quarter[4];
  };
  if (count >= 8 && count <= 16)
    pair(uint64_t());
  else if (count > 16 && count <= 32)
    pair(TSixteen());
  else if (count > 32 && count <= 64)
    pair(TThirtyTwo());
  else
    std::memcpy(to, from, count);
}

} // namespace common
