#pragma once
// Acting for a user in the file system while the process runs as root: the
// kernel then checks every open, create and rename as it would for them, so
// that nothing the user controls (a link, a folder swapped meanwhile) makes
// root read or write where the user could not.

#include <sys/types.h>

#include <vector>

#include "base/home.h"

namespace tavo {

/// The user's file-system ids and groups for the scope, on the calling
/// thread; nothing to do when the process already runs as them. ok() is
/// false when the switch failed: the caller must then act as if the user
/// were refused.
class AsUser {
 public:
  explicit AsUser(const UserIds& user);
  ~AsUser();
  AsUser(const AsUser&) = delete;
  AsUser& operator=(const AsUser&) = delete;
  bool ok() const { return ok_; }

  /// The process's own ids back for the scope when an AsUser holds them on
  /// this thread, so that a program started meanwhile (Child::start) runs
  /// as this process does, not with the user's groups, and is found and run
  /// however private its folder is.
  class Pause {
   public:
    Pause();
    ~Pause();
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

   private:
    AsUser* paused_;
  };

 private:
  void apply();
  void restore();

  uid_t uid_;
  gid_t gid_;
  std::vector<gid_t> groups_;
  bool switched_ = false;
  bool ok_ = true;
  std::vector<gid_t> saved_;
  AsUser* outer_ = nullptr;
};

}  // namespace tavo
