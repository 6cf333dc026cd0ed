#pragma once
#include <string>

namespace tavo {

/// "~" and "~/x" become the home folder ($HOME, else the password
/// database); "~user/x" becomes that user's home. Anything else, or a user
/// without a known home, comes back unchanged.
std::string expandTildeInPath(const std::string& path);

}  // namespace tavo
