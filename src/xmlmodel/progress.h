#pragma once

#include <functional>

namespace xmlmodel {

// Told how far long work has come (0 to 1); returns false to cancel it. Called often enough
// that a cancel takes effect soon, seldom enough to cost nothing.
using ProgressFn = std::function<bool(double done)>;

} // namespace xmlmodel
