#pragma once
// Whole reads and writes on a descriptor, with interrupted and short calls
// retried.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavo {

/// Writes all of `bytes` to `fd`; false on any failure but an interrupted or
/// short write (errno says why).
bool writeAll(int fd, std::string_view bytes);

/// Appends what `fd` yields until end of file to `out`; false on a read
/// error, or with errno EFBIG once more than `maxBytes` would be appended.
bool readAll(int fd, std::string& out, std::size_t maxBytes = SIZE_MAX);

}  // namespace tavo
