#pragma once
// The platform's preferences store: values keyed by domain, key, user scope
// and host scope.

#include <memory>
#include <optional>
#include <string>

#include "plist/plist_value.h"

namespace tavo {

enum class PrefUser { Current, Any };
enum class PrefHost { Current, Any };

/// The name of the preferences shared by every application.
inline constexpr const char* kAnyApplication = ".GlobalPreferences";

/// Held while a caller reads, changes and writes back one scope of a domain
/// without another writer interleaving; released when destroyed.
class PrefsDomainLock {
 public:
  virtual ~PrefsDomainLock() = default;
};

/// Held while a caller reads many values and changes none, as a scan does:
/// until it goes, each file may be read once and its values answered from
/// memory. Released when destroyed.
class PrefsReadHold {
 public:
  virtual ~PrefsReadHold() = default;
};

class PrefsStore {
 public:
  virtual ~PrefsStore() = default;

  /// The value the standard application search list finds first for `key`,
  /// or nullopt when no scope of the domain or of the any-application domain
  /// holds it.
  virtual std::optional<PlistValue> copyAppValue(const std::string& key,
                                                 const std::string& domain) = 0;
  /// The value stored for `key` in exactly one scope, or nullopt.
  virtual std::optional<PlistValue> copyValue(const std::string& key, const std::string& domain,
                                              PrefUser user, PrefHost host) = 0;
  /// Sets (or, with nullopt, removes) `key`; pending until `synchronize`.
  virtual void setValue(const std::string& key, std::optional<PlistValue> value,
                        const std::string& domain, PrefUser user, PrefHost host) = 0;
  /// Writes the scope's pending keys to permanent storage and drops them.
  /// False when they could not be written.
  virtual bool synchronize(const std::string& domain, PrefUser user, PrefHost host) = 0;
  /// Takes the scope exclusively; `synchronize` from the same store honours
  /// the lock it holds. Never null.
  virtual std::unique_ptr<PrefsDomainLock> lockDomain(const std::string& domain, PrefUser user,
                                                      PrefHost host) = 0;
  /// Lets reads come from what was read before while the hold lives. A
  /// write of this store, and a lock taken to change a value, drop all of
  /// it, so that no change is ever made from a stale read. Never null.
  virtual std::unique_ptr<PrefsReadHold> holdReads() { return std::make_unique<PrefsReadHold>(); }
};

}  // namespace tavo
