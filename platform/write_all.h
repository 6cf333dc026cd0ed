#pragma once
#include <string>

namespace tavo {

/// Writes all of `bytes` to `fd`, retrying short and interrupted writes;
/// false on any other failure.
bool writeAll(int fd, const std::string& bytes);

}  // namespace tavo
