#include "base/path.h"

namespace tavo {
namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

std::vector<std::string> splitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string joinParts(const std::vector<std::string>& parts) {
  if (parts.empty()) return "/";
  std::string out;
  for (const std::string& part : parts) (out += '/') += part;
  return out;
}

std::string joinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string out(folder);
  if (out.back() != '/') out += '/';
  return out += name;
}

std::string parentPath(std::string_view path) {
  path = withoutTrailingSlashes(path);
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return std::string(withoutTrailingSlashes(path.substr(0, slash == 0 ? 1 : slash)));
}

std::string baseName(std::string_view path) {
  path = withoutTrailingSlashes(path);
  if (path == "/") return "/";
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace tavo
