#include "base/as_user.h"

#include <grp.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cstdlib>

namespace tavo {
namespace {

// The innermost scope holding this thread's ids; the file-system ids are
// the thread's own.
thread_local AsUser* held = nullptr;

}  // namespace

AsUser::AsUser(const UserIds& user) : uid_(user.uid), gid_(user.gid), groups_(user.groups) {
  if (geteuid() == user.uid) return;
  int count = getgroups(0, nullptr);
  saved_.resize(static_cast<std::size_t>(count > 0 ? count : 0));
  if (count < 0 || getgroups(count, saved_.data()) != count) {
    ok_ = false;
    return;
  }
  switched_ = true;
  outer_ = held;
  held = this;
  apply();
}

AsUser::~AsUser() {
  if (!switched_) return;
  restore();
  held = outer_;
}

void AsUser::apply() {
  // Groups and group first: once the fsuid is the user's, root's rights to
  // change them are gone until it is root's again.
  setgroups(groups_.size(), groups_.data());
  setfsgid(gid_);
  setfsuid(uid_);
  // Each call answers the ids as they were before it: ask twice to know.
  ok_ = static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) == uid_ &&
        static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) == gid_ &&
        getgroups(0, nullptr) == static_cast<int>(groups_.size());
}

void AsUser::restore() {
  setfsuid(geteuid());
  setfsgid(getegid());
  setgroups(saved_.size(), saved_.data());
}

AsUser::Pause::Pause() : paused_(held) {
  if (paused_) paused_->restore();
}

AsUser::Pause::~Pause() {
  if (!paused_) return;
  paused_->apply();
  // The scope's owner checked ok() before the pause and goes on as the user:
  // it must never go on as root instead.
  if (!paused_->ok_) std::abort();
}

}  // namespace tavo
