#pragma once
// Reading, testing and deleting values at a preference key path: a domain
// plus key names, the first naming a top-level value and each further one a
// member of the dictionary reached so far.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prefs/prefs_store.h"

namespace tavo::prefs {

/// Longest string value or key name read, in UTF-8 bytes.
inline constexpr std::size_t kMaxTextBytes = 2047;

/// Splits "A/B/C" on every "/"; empty pieces stay, so the result is never empty.
std::vector<std::string> splitKeyPath(const std::string& keyPath);

/// True with `strValue` replaced when the domain's top-level `withKeyName`
/// (standard search, then current user on any host) is a string of at most
/// 2047 bytes; otherwise false and `strValue` untouched.
bool readConfigStringValue(PrefsStore& store, const std::string& domain,
                           const std::string& withKeyName, std::string& strValue);

/// The same along a key path (strict walk: an absent name ends it with false).
bool readConfigStringValue(PrefsStore& store, const std::string& domain,
                           const std::vector<std::string>& withKeyNames, std::string& strValue);

/// Appends the member names of the top-level dictionary `key` ("Root" when
/// empty), in the dictionary's order; true when at least one was appended.
bool listConfigKeys(PrefsStore& store, const std::string& domain, const std::string& key,
                    std::vector<std::string>& names);

/// "Banks" / first bank / "bank_path", and the same for "sample_dir".
bool read1stBankPath(PrefsStore& store, const std::string& domain, std::string& strValue);
bool read1stBankSamplePath(PrefsStore& store, const std::string& domain, std::string& strValue);

/// True when the "/"-separated key path exists in the current user's
/// host-independent preferences (lenient walk: an absent name is passed over).
/// A path of one name is always false.
bool prefExists(PrefsStore& store, const std::string& domain, const std::string& withKey);

/// How a deletion at a key path ended.
enum class KeyDeletion {
  Deleted,      // the entry was removed and the value written back
  Absent,       // the first key has no value: nothing to delete
  NotReached,   // no names, a single name, or a walk that does not reach the entry
  WriteFailed,  // the entry was removed from the value, but it could not be written back
};

/// Removes the last named entry from the first key's value in one scope of
/// the domain (lenient walk) and stores the value back, holding the domain's
/// lock from the read to the write-back; `removed`, when given, receives what
/// the entry held once Deleted. The top-level key itself is never removed.
KeyDeletion deletePrefKey(PrefsStore& store, const std::string& domain,
                          const std::vector<std::string>& withKeyNames, PrefUser user,
                          PrefHost host, PlistValue* removed = nullptr);

/// How putting a deleted value back ended.
enum class KeyRestore {
  Restored,     // the value is at its key path again, written back
  Occupied,     // a value is at the key path now: it is left as it is
  NotReached,   // fewer than two names, or a value that is no dictionary on the way
  WriteFailed,  // it could not be written back
};

/// Puts `value` back where deletePrefKey() took it from, at `position` among
/// its dictionary's members, in one scope, never over a value that is there
/// now; holds the domain's lock from the read to the write-back. A missing
/// first key comes back as a dictionary holding it.
KeyRestore restorePrefKey(PrefsStore& store, const std::string& domain,
                          const std::vector<std::string>& withKeyNames, PrefUser user,
                          PrefHost host, const PlistValue& value, std::size_t position = SIZE_MAX);

/// The value at the key path in exactly one scope (lenient walk), or nullopt.
std::optional<PlistValue> prefValueAt(PrefsStore& store, const std::string& domain,
                                      const std::vector<std::string>& withKeyNames, PrefUser user,
                                      PrefHost host);
/// Where among its dictionary's members that value is, or nullopt.
std::optional<std::size_t> prefPositionAt(PrefsStore& store, const std::string& domain,
                                          const std::vector<std::string>& withKeyNames,
                                          PrefUser user, PrefHost host);

/// The deletion for the current user on any host. True when removed, or when
/// the first key has no value; false for an empty list, a single name, a walk
/// that does not reach the entry, or a write-back that failed.
bool deleteCurrentUserPrefKey(PrefsStore& store, const std::string& domain,
                              const std::vector<std::string>& withKeyNames);

}  // namespace tavo::prefs
