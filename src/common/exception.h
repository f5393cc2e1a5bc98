#pragma once

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

} // namespace common
