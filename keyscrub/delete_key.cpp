#include "keyscrub/delete_key.h"

#include "platform/key_path_walk.h"

namespace tavo::keyscrub {

bool deleteConfigKeyAnyUser(PrefsStore& store, const std::string& domain,
                            const std::vector<std::string>& names, bool* writeFailed) {
  if (writeFailed) *writeFailed = false;
  if (names.empty()) return false;
  // Several runs for entries of one product start together; each holds the
  // domain's file from its read to its write-back so none undoes another.
  auto lock = store.lockDomain(domain, PrefUser::Any, PrefHost::Current);
  auto copy = store.copyValue(names.front(), domain, PrefUser::Any, PrefHost::Current);
  if (!copy) return true;  // nothing to delete
  if (!lenientKeyPathRemove(*copy, names)) return false;
  store.setValue(names.front(), std::move(*copy), domain, PrefUser::Any, PrefHost::Current);
  if (store.synchronize(domain, PrefUser::Any, PrefHost::Current)) return true;
  if (writeFailed) *writeFailed = true;
  return false;
}

}  // namespace tavo::keyscrub
