#pragma once
// The text of a freedesktop.org trash info file.

#include <optional>
#include <string>
#include <string_view>

namespace tavo {

/// `path` encoded like a URL path: every byte but letters, digits, "-._~" and
/// "/" as "%XX", as trash info files hold it.
std::string percentEncode(const std::string& path);

/// The bytes `text` encodes: "%XX" is the byte XX, anything else stands for
/// itself; nullopt for a "%" without two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

/// The decoded Path= of the info file `text` (its "[Trash Info]" group first);
/// nullopt when there is none, or it is malformed.
std::optional<std::string> trashInfoPath(std::string_view text);

}  // namespace tavo
