#pragma once
// Path texts, taken apart and put together without touching the disk.

#include <string>
#include <string_view>
#include <vector>

namespace tavo {

/// The components of `path`; empty pieces ("//", a leading or trailing "/")
/// are dropped, so "/a//b/" gives {"a", "b"} and "/" gives none.
std::vector<std::string> splitPath(std::string_view path);

/// The absolute path of `parts`: "/a/b", or "/" for none.
std::string joinParts(const std::vector<std::string>& parts);

/// `name` inside `folder`: "/name" for the folder "/", `name` alone for an
/// empty folder, else folder + "/" + name.
std::string joinPath(std::string_view folder, std::string_view name);

/// The folder holding `path`, as dirname(1) answers: trailing slashes are
/// ignored, "/a/b" gives "/a", "/a" and "/" give "/", and a path without a
/// slash ("a", or "") gives ".".
std::string parentPath(std::string_view path);

/// The last component, trailing slashes ignored: "/a/b/" gives "b", "/"
/// gives "/", and "" gives "".
std::string baseName(std::string_view path);

}  // namespace tavo
