#include "common/short_copy.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

// Every length across the inline sizes and past them, at every offset into a block: exactly the
// asked bytes are copied and nothing on either side of them is written.
TEST(ShortCopy, CopiesExactlyTheBytesAskedForAtAnyLengthAndOffset) {
  std::array<uint8_t, 80> source{};
  for (size_t i = 0; i < source.size(); ++i)
    source[i] = static_cast<uint8_t>(i * 7 + 1);
  for (size_t count = 0; count <= 72; ++count) {
    for (size_t offset = 0; offset < 8; ++offset) {
      std::array<uint8_t, 80> target;
      target.fill(0xEE);
      common::CopyShort(target.data() + offset, source.data() + offset, count);
      for (size_t i = 0; i < target.size(); ++i) {
        const bool inside = i >= offset && i < offset + count;
        ASSERT_EQ(target[i], inside ? source[i] : 0xEE)
            << "count " << count << " offset " << offset << " byte " << i;
      }
    }
  }
}
