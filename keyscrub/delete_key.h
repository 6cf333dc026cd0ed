#pragma once
#include <string>
#include <vector>

#include "platform/prefs_store.h"

namespace tavo::keyscrub {

/// Removes the entry that the key path names from the first key's value in
/// the preferences shared by all users (any user, current host) and writes
/// the value back. True when removed, or when the first key has no value;
/// false for no names, a single name, a walk that does not reach it, or a
/// write-back that failed, which also sets `writeFailed` when given.
bool deleteConfigKeyAnyUser(PrefsStore& store, const std::string& domain,
                            const std::vector<std::string>& names, bool* writeFailed = nullptr);

}  // namespace tavo::keyscrub
