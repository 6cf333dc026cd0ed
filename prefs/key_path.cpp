#include "prefs/key_path.h"

#include "prefs/key_path_walk.h"

namespace tavo::prefs {
namespace {

// The standard application search first; the current user's
// host-independent value only when that finds nothing at all.
std::optional<PlistValue> topLevelFetch(PrefsStore& store, const std::string& domain,
                                        const std::string& key) {
  if (auto value = store.copyAppValue(key, domain)) return value;
  return store.copyValue(key, domain, PrefUser::Current, PrefHost::Any);
}

bool readableString(const PlistValue* value, std::string& strValue) {
  if (!value) return false;
  const std::string* s = value->string();
  if (!s || s->size() > kMaxTextBytes) return false;
  strValue = *s;
  return true;
}

bool read1stBankValue(PrefsStore& store, const std::string& domain, const char* lastName,
                      std::string& strValue) {
  std::vector<std::string> banks;
  if (!listConfigKeys(store, domain, "Banks", banks) || banks.empty()) return false;
  std::string value;
  if (!readConfigStringValue(store, domain, {"Banks", banks.front(), lastName}, value))
    return false;
  strValue = value;
  return true;
}

}  // namespace

std::vector<std::string> splitKeyPath(const std::string& keyPath) {
  std::vector<std::string> names;
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = keyPath.find('/', start);
    names.push_back(keyPath.substr(start, slash - start));
    if (slash == std::string::npos) return names;
    start = slash + 1;
  }
}

bool readConfigStringValue(PrefsStore& store, const std::string& domain,
                           const std::string& withKeyName, std::string& strValue) {
  auto value = topLevelFetch(store, domain, withKeyName);
  return readableString(value ? &*value : nullptr, strValue);
}

bool readConfigStringValue(PrefsStore& store, const std::string& domain,
                           const std::vector<std::string>& withKeyNames, std::string& strValue) {
  if (withKeyNames.empty()) return false;
  if (withKeyNames.size() == 1)
    return readConfigStringValue(store, domain, withKeyNames.front(), strValue);
  auto top = topLevelFetch(store, domain, withKeyNames.front());
  if (!top) return false;
  const PlistValue* node = &*top;
  for (std::size_t i = 1; i < withKeyNames.size(); ++i) {
    const PlistDict* dict = node->dict();
    if (!dict) return false;
    node = dict->find(withKeyNames[i]);
    if (!node) return false;
  }
  return readableString(node, strValue);
}

bool listConfigKeys(PrefsStore& store, const std::string& domain, const std::string& key,
                    std::vector<std::string>& names) {
  auto value = topLevelFetch(store, domain, key.empty() ? "Root" : key);
  if (!value || !value->dict()) return false;
  bool appended = false;
  for (const auto& entry : value->dict()->entries()) {
    if (entry.first.size() > kMaxTextBytes) continue;
    names.push_back(entry.first);
    appended = true;
  }
  return appended;
}

bool read1stBankPath(PrefsStore& store, const std::string& domain, std::string& strValue) {
  return read1stBankValue(store, domain, "bank_path", strValue);
}

bool read1stBankSamplePath(PrefsStore& store, const std::string& domain,
                           std::string& strValue) {
  return read1stBankValue(store, domain, "sample_dir", strValue);
}

bool prefExists(PrefsStore& store, const std::string& domain, const std::string& withKey) {
  std::vector<std::string> names = splitKeyPath(withKey);
  auto top = store.copyValue(names.front(), domain, PrefUser::Current, PrefHost::Any);
  store.synchronize(domain, PrefUser::Current, PrefHost::Any);
  return top && lenientKeyPathExists(*top, names);
}

KeyDeletion deletePrefKey(PrefsStore& store, const std::string& domain,
                          const std::vector<std::string>& withKeyNames, PrefUser user,
                          PrefHost host, PlistValue* removed) {
  if (withKeyNames.empty()) return KeyDeletion::NotReached;
  const std::string& first = withKeyNames.front();
  // Several deletions in one domain may run at once (keyscrub's runs for a
  // product's entries, the application beside them): each holds the domain's
  // file from its read to its write-back, so that none undoes another.
  auto lock = store.lockDomain(domain, user, host);
  auto copy = store.copyValue(first, domain, user, host);
  if (!copy) return KeyDeletion::Absent;
  PlistValue entry;
  if (!lenientKeyPathRemove(*copy, withKeyNames, &entry)) return KeyDeletion::NotReached;
  store.setValue(first, std::move(*copy), domain, user, host);
  // A write-back that failed removed nothing; the store has said why.
  if (!store.synchronize(domain, user, host)) return KeyDeletion::WriteFailed;
  if (removed) *removed = std::move(entry);
  return KeyDeletion::Deleted;
}

KeyRestore restorePrefKey(PrefsStore& store, const std::string& domain,
                          const std::vector<std::string>& withKeyNames, PrefUser user,
                          PrefHost host, const PlistValue& value, std::size_t position) {
  if (withKeyNames.size() < 2) return KeyRestore::NotReached;
  const std::string& first = withKeyNames.front();
  auto lock = store.lockDomain(domain, user, host);
  PlistValue top = store.copyValue(first, domain, user, host).value_or(PlistValue(PlistDict()));
  if (lenientKeyPathFind(top, withKeyNames)) return KeyRestore::Occupied;
  if (!lenientKeyPathInsert(top, withKeyNames, value, position)) return KeyRestore::NotReached;
  store.setValue(first, std::move(top), domain, user, host);
  return store.synchronize(domain, user, host) ? KeyRestore::Restored : KeyRestore::WriteFailed;
}

std::optional<PlistValue> prefValueAt(PrefsStore& store, const std::string& domain,
                                      const std::vector<std::string>& withKeyNames, PrefUser user,
                                      PrefHost host) {
  if (withKeyNames.empty()) return std::nullopt;
  auto top = store.copyValue(withKeyNames.front(), domain, user, host);
  const PlistValue* found = top ? lenientKeyPathFind(*top, withKeyNames) : nullptr;
  if (!found) return std::nullopt;
  return *found;
}

std::optional<std::size_t> prefPositionAt(PrefsStore& store, const std::string& domain,
                                          const std::vector<std::string>& withKeyNames,
                                          PrefUser user, PrefHost host) {
  if (withKeyNames.empty()) return std::nullopt;
  auto top = store.copyValue(withKeyNames.front(), domain, user, host);
  return top ? lenientKeyPathPosition(*top, withKeyNames) : std::nullopt;
}

bool deleteCurrentUserPrefKey(PrefsStore& store, const std::string& domain,
                              const std::vector<std::string>& withKeyNames) {
  KeyDeletion done = deletePrefKey(store, domain, withKeyNames, PrefUser::Current, PrefHost::Any);
  return done == KeyDeletion::Deleted || done == KeyDeletion::Absent;
}

}  // namespace tavo::prefs
