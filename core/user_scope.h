#pragma once
// Looking at the file system as the user a session acts for.

#include <cstdlib>
#include <optional>
#include <string>

#include "base/as_user.h"

namespace tavo {

// For the scope the process looks at the file system as `user` would: with
// their file-system ids, and their home as HOME so that "~" names it.
// Nothing changes without a user.
class UserScope {
 public:
  UserScope(const UserIds* user, const std::string& home) {
    if (!user) return;
    ids_.emplace(*user);
    if (const char* old = std::getenv("HOME")) oldHome_ = old;
    ::setenv("HOME", home.c_str(), 1);
  }
  ~UserScope() {
    if (!ids_) return;
    if (oldHome_)
      ::setenv("HOME", oldHome_->c_str(), 1);
    else
      ::unsetenv("HOME");
  }
  UserScope(const UserScope&) = delete;
  UserScope& operator=(const UserScope&) = delete;
  bool ok() const { return !ids_ || ids_->ok(); }

 private:
  std::optional<AsUser> ids_;
  std::optional<std::string> oldHome_;
};

}  // namespace tavo
