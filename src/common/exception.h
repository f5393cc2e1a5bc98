#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace common {

// Every error of the system carries an English message in an Exception.
class Exception : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The silent abort: ends the running command without any message being shown.
class EAbort : public Exception {
public:
  explicit EAbort(const std::string &message = "Operation aborted") : Exception(message) {}
};

// printf-style formatting into a std::string.
std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Raises the list and collection index error "List index out of bounds (%d)".
[[noreturn]] void ListIndexError(long long index);

// The item at index of a list of owning pointers, or the list index error.
template <class Owners> auto &CheckedItem(const Owners &items, int index) {
  if (index < 0 || static_cast<size_t>(index) >= items.size())
    ListIndexError(index);
  return *items[static_cast<size_t>(index)];
}

} // namespace common
