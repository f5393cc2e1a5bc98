#include "common/exception.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace common {

std::string Format(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
    out.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return out;
}

void ListIndexError(long long index) { throw Exception(Format("List index out of bounds (%lld)", index)); }

} // namespace common
