#pragma once
// A temporary folder removed with everything in it, helpers to lay out files
// in it, and an environment variable set for a scope.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace tavo::testing {

class TempTree {
 public:
  TempTree() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavo-test-XXXXXX";
    // Without its own folder a test would lay its files out under "/".
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = std::filesystem::canonical(pattern);  // as the lister reports paths below it
  }
  ~TempTree() {
    std::error_code ignored;  // links inside are removed, never followed
    std::filesystem::remove_all(path_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

  /// Creates the folder and its parents; returns its full path.
  std::string mkdirs(const std::string& rel) const {
    std::error_code ignored;
    std::filesystem::create_directories(*this / rel, ignored);
    return *this / rel;
  }
  /// Writes a file, creating its folders; returns its full path.
  std::string write(const std::string& rel, const std::string& content = "") const {
    std::size_t slash = rel.rfind('/');
    if (slash != std::string::npos) mkdirs(rel.substr(0, slash));
    std::ofstream(*this / rel, std::ios::binary) << content;
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

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace tavo::testing
