#pragma once
// A temporary folder removed with everything in it, and helpers to lay out
// files, links and environment variables for a test.

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
    path_ = pattern;
  }
  ~TempTree() {
    ::nftw(path_.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

  /// Creates the folder and its parents; returns its full path.
  std::string mkdirs(const std::string& rel) const {
    std::string full = path_;
    std::size_t start = 0;
    while (start <= rel.size()) {
      std::size_t slash = rel.find('/', start);
      if (slash == std::string::npos) slash = rel.size();
      full += "/" + rel.substr(start, slash - start);
      ::mkdir(full.c_str(), 0755);
      start = slash + 1;
    }
    return full;
  }

  /// Writes a file, creating its folders; returns its full path.
  std::string write(const std::string& rel, const std::string& content = "") const {
    std::size_t slash = rel.rfind('/');
    if (slash != std::string::npos) mkdirs(rel.substr(0, slash));
    std::ofstream(path_ + "/" + rel, std::ios::binary) << content;
    return path_ + "/" + rel;
  }

  /// Makes `rel` a symbolic link to `target`; returns its full path.
  std::string link(const std::string& target, const std::string& rel) const {
    ::symlink(target.c_str(), (path_ + "/" + rel).c_str());
    return path_ + "/" + rel;
  }

 private:
  static int removeOne(const char* p, const struct stat*, int, FTW*) {
    ::chmod(p, 0700);
    ::remove(p);
    return 0;
  }
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
