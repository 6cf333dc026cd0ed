#include "base/io.h"

#include <unistd.h>

#include <cerrno>

namespace tavo {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool readAll(int fd, std::string& out, std::size_t maxBytes) {
  char chunk[65536];
  std::size_t added = 0;
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    added += static_cast<std::size_t>(n);
    if (added > maxBytes) {
      errno = EFBIG;
      return false;
    }
    out.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace tavo
