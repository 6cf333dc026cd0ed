#pragma once
// The text of a freedesktop.org trash info file.

#include <string>

namespace tavo {

/// `path` encoded like a URL path: every byte but letters, digits, "-._~" and
/// "/" as "%XX", as trash info files hold it.
std::string percentEncode(const std::string& path);

}  // namespace tavo
