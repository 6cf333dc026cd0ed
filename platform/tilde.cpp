#include "platform/tilde.h"

#include "base/home.h"

namespace tavo {

std::string expandTildeInPath(const std::string& path) {
  if (path.empty() || path[0] != '~') return path;
  std::size_t slash = path.find('/');
  std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  std::optional<std::string> home = user.empty() ? homeFolder() : homeFolderOf(user);
  if (!home) return path;
  std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
  while (home->size() > 1 && home->back() == '/') home->pop_back();
  if (*home == "/") return rest.empty() ? *home : rest;
  return *home + rest;
}

}  // namespace tavo
