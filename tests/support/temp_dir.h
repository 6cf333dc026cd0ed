#pragma once
// A temporary folder removed with everything in it, file helpers to lay out
// and read files, and an environment variable set for a scope.

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>

namespace tavo::testing {

/// The bytes of the file at `path`; "" when it cannot be read.
inline std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

/// Writes `text` to `path`, creating its folders, and gives it `mode`.
inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

/// True when something, a dangling link included, is at `path`.
inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

/// The names in `folder`.
inline std::set<std::string> entriesOf(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

class TempDir {
 public:
  /// A new folder under `parent` ($TMPDIR, else /tmp, when empty), named by
  /// its resolved path, as the lister reports paths below it.
  explicit TempDir(const std::string& parent = "") {
    const char* tmp = ::getenv("TMPDIR");
    std::string base = !parent.empty() ? parent : tmp && *tmp ? tmp : "/tmp";
    std::string pattern = base + "/tavo-test-XXXXXX";
    // Without its own folder a test would lay its files out under "/".
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = std::filesystem::canonical(pattern);
  }
  ~TempDir() {
    std::error_code ignored;  // links inside are removed, never followed
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

  /// Creates the folder and its parents; returns its full path.
  std::string mkdirs(const std::string& rel) const {
    std::error_code ignored;
    std::filesystem::create_directories(*this / rel, ignored);
    return *this / rel;
  }
  /// Writes a file, creating its folders; returns its full path.
  std::string write(const std::string& rel, const std::string& content = "",
                    mode_t mode = 0644) const {
    writeFile(*this / rel, content, mode);
    return *this / rel;
  }

 private:
  std::string path_;
};

/// Sets an environment variable for the scope, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = old;
    ::setenv(name_.c_str(), value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace tavo::testing
